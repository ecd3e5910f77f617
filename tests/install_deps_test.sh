#!/usr/bin/env bash
# Runs scripts/install-deps against fakes of apt-get, apt-cache, dpkg,
# dpkg-query, id and sudo put first on the PATH; they keep a small package
# database and log every call. Prints each failed check, exits non-zero on any.
set -euo pipefail

deps="$(cd "$(dirname "$0")/.." && pwd)/scripts/install-deps"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fakes=$tmp/bin
mkdir "$fakes"

# State (in $FAKE_STATE): installed ("name arch version"), update_err
# (apt-get update fails with it), foreign (dpkg's added architectures),
# listed (the architectures apt's lists hold), log.

cat >"$fakes/apt-get" <<'EOF'
#!/usr/bin/env bash
S=$FAKE_STATE
echo "apt-get $*" >>"$S/log"
cmd= names=()
for x in "$@"; do
    case $x in
    update | install) cmd=$x ;;
    -*) ;;
    *) names+=("$x") ;;
    esac
done
if [ "$cmd" = update ]; then
    # The lists now hold what dpkg was told of.
    cp "$S/foreign" "$S/listed" 2>/dev/null || true
    [ ! -f "$S/update_err" ] || { cat "$S/update_err" >&2; exit 100; }
    exit 0
fi
[ "$cmd" = install ] || { echo "fake apt-get: unexpected $*" >&2; exit 1; }
for x in "${names[@]}"; do
    [[ $x != *:armhf ]] || { echo "fake apt-get: an armhf package was installed: $x" >&2; exit 1; }
    echo "$x amd64 1.0" >>"$S/installed"
done
EOF

# show knows an armhf package only once the lists have been updated with
# the architecture added.
cat >"$fakes/apt-cache" <<'EOF'
#!/usr/bin/env bash
S=$FAKE_STATE
echo "apt-cache $*" >>"$S/log"
[ "$1" = show ] || { echo "fake apt-cache: unexpected $*" >&2; exit 1; }
for x in "${@:2}"; do
    [[ $x != -* ]] || continue
    [[ $x != *:armhf ]] || grep -qx armhf "$S/listed" 2>/dev/null || { echo "E: No packages found" >&2; exit 100; }
    printf 'Package: %s\nVersion: 1.0\n\n' "${x%:*}"
done
EOF

cat >"$fakes/dpkg-query" <<'EOF'
#!/usr/bin/env bash
S=$FAKE_STATE
echo "dpkg-query $*" >>"$S/log"
[ "$1" = -W ] && [[ $2 == -f=* ]] || { echo "fake dpkg-query: unexpected $*" >&2; exit 1; }
fmt=${2#-f=} rc=0
for x in "${@:3}"; do
    found=
    while read -r n a v; do
        [ "$n" = "${x%:*}" ] || continue
        [[ $x != *:* || ${x##*:} = "$a" ]] || continue
        o=${fmt//'${Package}'/$n}; o=${o//'${Architecture}'/$a}
        o=${o//'${Version}'/$v}; o=${o//'${db:Status-Abbrev}'/ii }
        printf '%b' "$o"; found=1
    done <"$S/installed"
    [ -n "$found" ] || { echo "dpkg-query: no packages found matching $x" >&2; rc=1; }
done
exit $rc
EOF

cat >"$fakes/dpkg" <<'EOF'
#!/usr/bin/env bash
S=$FAKE_STATE
echo "dpkg $*" >>"$S/log"
case $1 in
--print-architecture) echo amd64 ;;
--print-foreign-architectures) cat "$S/foreign" 2>/dev/null || true ;;
--add-architecture) echo "$2" >>"$S/foreign" ;;
*) echo "fake dpkg: unexpected $*" >&2; exit 1 ;;
esac
EOF

cat >"$fakes/id" <<'EOF'
#!/usr/bin/env bash
[ "$1" = -u ] && echo "${FAKE_UID:-0}"
EOF

cat >"$fakes/sudo" <<'EOF'
#!/usr/bin/env bash
echo "sudo $*" >>"$FAKE_STATE/log"
exec "$@"
EOF
chmod +x "$fakes"/*

failures=0
case_name=
fail() {
    echo "FAIL [$case_name]: $*"
    echo "  output:"
    printf '    %s\n' "${out_lines[@]}"
    echo "  calls:"
    printf '    %s\n' "${calls[@]}"
    failures=$((failures + 1))
}

# A new case: an empty machine.
fresh() {
    case_name=$1
    export FAKE_STATE=$tmp/$1
    mkdir "$FAKE_STATE"
    : >"$FAKE_STATE/installed"
}

has() { printf '%s\n' "$@" >>"$FAKE_STATE/installed"; }

# Runs install-deps with the fakes: rc, out (its output on one line),
# out_lines, calls (the fakes' log), state (the installed packages).
run() {
    : >"$FAKE_STATE/log"
    rc=0
    out=$(PATH="$fakes:$PATH" "$deps" "$@" 2>&1) || rc=$?
    mapfile -t out_lines <<<"$out"
    out=${out//$'\n'/ }
    mapfile -t calls <"$FAKE_STATE/log"
    mapfile -t state <"$FAKE_STATE/installed"
}

called() { # regex: whether a logged call matches it
    local c
    for c in "${calls[@]}"; do [[ $c =~ $1 ]] && return 0; done
    return 1
}
expect_rc() { [ "$rc" -eq "$1" ] || fail "exit status $rc, expected $1"; }
expect_out() { [[ $out =~ $1 ]] || fail "no output matching: $1"; }
expect_call() { called "$1" || fail "no call matching: $1"; }
expect_no_call() { ! called "$1" || fail "a call matches: $1"; }
expect_install() { expect_call "^apt-get install.*($1)"; }
expect_no_install() { expect_no_call "^apt-get install.*($1)"; }
expect_installed() { [[ $'\n'"$(printf '%s\n' "${state[@]}")" == *$'\n'"$1"$'\n'* ]] || fail "not installed: $1"; }

# One index fails to update: a one-line warning, then the installs.
fresh update_fails
printf '%s\n' "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-armhf/Packages.xz  File has unexpected size (123 != 456). Mirror sync in progress? [IP: 192.0.2.1 80]" \
    "   Hashes of expected file:" "    - SHA256:0123" \
    "E: Some index files failed to download. They have been ignored, or old ones used instead." \
    >"$FAKE_STATE/update_err"
run
expect_rc 0
warnings=0
for l in "${out_lines[@]}"; do [[ $l != *warning* ]] || warnings=$((warnings + 1)); done
[ "$warnings" -eq 1 ] || fail "$warnings warnings, expected one"
for l in "${out_lines[@]}"; do
    [[ $l != *warning* || $l =~ binary-armhf/Packages\.xz.*Mirror\ sync\ in\ progress.*old\ lists ]] ||
        fail "the warning does not name the index and the old lists: $l"
done
[[ $out != *Hashes* ]] || fail "apt-get's own lines were printed"
expect_install ' cmake '
expect_install 'qemu-user'
expect_install 'chromium'
expect_no_install ':armhf'

# Everything installed: nothing is run.
case_name=all_installed
run
expect_rc 0
expect_no_call '^(apt-get|sudo|dpkg --add)'
[ -z "$out" ] || fail "printed something"

# Each step asks for its own groups only; armhf adds the architecture.
fresh host_only
run host
expect_rc 0
expect_install ' cmake .*admesh'
expect_no_install ':armhf|chromium|clang|qemu'
expect_no_call '^dpkg --add-architecture'

fresh all_but_armhf
run format host browser load asan tsan fuzz
expect_rc 0
expect_install 'clang-format'
expect_install 'chromium'
expect_no_install ':armhf|qemu|crossbuild'
expect_no_call '^dpkg --add-architecture'

# armhf: the cross tools, and apt told of the armhf packages, none installed.
fresh armhf_only
run armhf
expect_rc 0
expect_install 'qemu-user'
expect_no_install 'chromium|clang|:armhf'
expect_call '^dpkg --add-architecture armhf'
expect_call '^apt-get update'
case_name=armhf_again
run armhf
expect_no_call '^(apt-get|dpkg --add)'

# The tools are there but apt's lists lack the armhf packages: they are fetched.
fresh armhf_lists_only
has "crossbuild-essential-armhf amd64 1.0" "qemu-user amd64 1.0"
for p in cmake ninja-build g++ pkg-config ccache googletest libgtest-dev libgmock-dev libbenchmark-dev \
    libcpp-httplib-dev nlohmann-json3-dev libcli11-dev libpng-dev curl librsvg2-dev fonts-dejavu-core \
    libfreetype-dev xfonts-base xfonts-wqy admesh; do has "$p amd64 1.0"; done
run armhf
expect_rc 0
expect_call '^apt-get update'
expect_no_call '^apt-get install'

fresh not_root
FAKE_UID=1000 run armhf
expect_call '^sudo .*apt-get install .* cmake '
expect_call '^sudo .*dpkg --add-architecture armhf'

fresh root
run host
expect_install ' cmake '
expect_no_call '^sudo'

fresh unknown_step
run host armh
expect_rc 2
expect_no_call '^apt-get'

if [ "$failures" -gt 0 ]; then
    echo "install_deps_test: $failures failed"
    exit 1
fi
echo "install_deps_test: passed"
