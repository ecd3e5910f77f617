#include "shrink.h"

#include <algorithm>

namespace campaign {
namespace {

class Shrinker {
  public:
    Shrinker(Session s, const StillFails& f, int budget)
        : best_(std::move(s)), fails_(f), left_(budget) {}

    Session run() {
        // Actions first, by halves and then one by one (the delta debugger's
        // way), then what the sticks hold, then the actions once more.
        actions();
        files();
        layers();
        actions();
        gaps();
        return best_;
    }

  private:
    bool tryIt(const Session& s) {
        if (left_ <= 0) return false;
        --left_;
        if (!fails_(s)) return false;
        best_ = s;
        return true;
    }

    void actions() {
        size_t chunk = std::max<size_t>(1, best_.actions.size() / 2);
        while (chunk >= 1 && left_ > 0) {
            bool removed = false;
            for (size_t at = 0; at < best_.actions.size() && left_ > 0;) {
                Session s = best_;
                const size_t n = std::min(chunk, s.actions.size() - at);
                s.actions.erase(s.actions.begin() + static_cast<long>(at),
                                s.actions.begin() + static_cast<long>(at + n));
                if (tryIt(s)) {
                    removed = true;
                } else {
                    at += n;
                }
            }
            if (chunk == 1 && !removed) break;
            if (!removed) chunk /= 2;
        }
    }

    void files() {
        for (size_t st = 0; st < best_.sticks.size(); ++st) {
            for (size_t f = 0; f < best_.sticks[st].files.size() && left_ > 0;) {
                Session s = best_;
                s.sticks[st].files.erase(s.sticks[st].files.begin() + static_cast<long>(f));
                if (!tryIt(s)) ++f;
            }
        }
        if (best_.sticks.size() > 1) {
            Session s = best_;
            s.sticks.resize(1);
            for (Action& a : s.actions) {
                if (a.args.contains("stick")) a.args["stick"] = 0;
            }
            tryIt(s);
        }
    }

    void layers() {
        for (size_t st = 0; st < best_.sticks.size(); ++st) {
            for (size_t f = 0; f < best_.sticks[st].files.size(); ++f) {
                while (best_.sticks[st].files[f].layers > 1 && left_ > 0) {
                    Session s = best_;
                    FilePlan& plan = s.sticks[st].files[f];
                    plan.layers = std::max(1, plan.layers / 2);
                    if (!tryIt(s)) break;
                }
                while (left_ > 0 &&
                       (best_.sticks[st].files[f].w > 2 || best_.sticks[st].files[f].h > 2)) {
                    Session s = best_;
                    FilePlan& plan = s.sticks[st].files[f];
                    plan.w = std::max(2, plan.w / 2);
                    plan.h = std::max(2, plan.h / 2);
                    if (!tryIt(s)) break;
                }
                if (!best_.sticks[st].files[f].spoil.empty()) {
                    Session s = best_;
                    s.sticks[st].files[f].spoil.clear();
                    tryIt(s);
                }
            }
        }
    }

    // Quiet times halved where that keeps the failure.
    void gaps() {
        for (size_t i = 0; i < best_.actions.size() && left_ > 0; ++i) {
            while (best_.actions[i].then_ms > 400 && left_ > 0) {
                Session s = best_;
                s.actions[i].then_ms /= 2;
                if (!tryIt(s)) break;
            }
        }
    }

    Session best_;
    const StillFails& fails_;
    int left_;
};

}  // namespace

Session shrinkSession(const Session& failing, const StillFails& stillFails, int budget) {
    return Shrinker(failing, stillFails, budget).run();
}

}  // namespace campaign
