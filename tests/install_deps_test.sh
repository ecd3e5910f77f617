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

# State (in $FAKE_STATE): installed ("name arch version"), index ("name arch
# version multi-arch", the first line of a name and arch is its candidate;
# other names are at 1.0), closure (what apt-cache depends prints),
# update_err (apt-get update fails with it), removes (packages an install
# that changes a host version removes), unknown (names apt cannot find),
# foreign, log.

cat >"$fakes/apt-get" <<'EOF'
#!/usr/bin/env bash
S=$FAKE_STATE
echo "apt-get $*" >>"$S/log"
declare -A cand=() vers=() ma=() inst=() new=()
while read -r n a v m; do
    [ -n "${cand[$n:$a]:-}" ] || cand[$n:$a]=$v
    vers[$n:$a]+=" $v "; ma[$n]=$m
done <"$S/index"
while read -r n a v; do inst[$n:$a]=$v; new[$n:$a]=$v; done <"$S/installed"
older() { [ "$1" != "$2" ] && [ "$(printf '%s\n%s\n' "$1" "$2" | sort -V | head -1)" = "$1" ]; }

cmd= sim= down= names=()
for x in "$@"; do
    case $x in
    update | install) cmd=$x ;;
    -s) sim=1 ;;
    --allow-downgrades) down=1 ;;
    -*) ;;
    *) names+=("$x") ;;
    esac
done
if [ "$cmd" = update ]; then
    [ ! -f "$S/update_err" ] || { cat "$S/update_err" >&2; exit 100; }
    exit 0
fi
[ "$cmd" = install ] || { echo "fake apt-get: unexpected $*" >&2; exit 1; }

declare -A asked=() unknown=()
[ ! -f "$S/unknown" ] || while read -r n; do unknown[$n]=1; done <"$S/unknown"
any_armhf=
for x in "${names[@]}"; do
    name=${x%%=*} v=
    [ -z "${unknown[$name]:-}" ] || { echo "E: Unable to locate package $name" >&2; exit 100; }
    [[ $x != *=* ]] || v=${x#*=}
    [[ $name == *:* ]] || name+=:amd64
    [[ $name != *:armhf ]] || any_armhf=1
    if [ -n "$v" ]; then
        [[ ${vers[$name]:- 1.0 } == *" $v "* ]] || { echo "E: Version '$v' for '$name' was not found" >&2; exit 100; }
    else
        v=${cand[$name]:-1.0}
    fi
    if [ -n "${inst[$name]:-}" ] && older "$v" "${inst[$name]}" && [ -z "$down" ]; then
        echo "E: Packages were downgraded and -y was used without --allow-downgrades." >&2
        exit 100
    fi
    new[$name]=$v asked[$name]=1
done
if [ -n "$any_armhf" ]; then
    while read -r dep; do
        [ -n "${asked[$dep]:-}" ] || [ -n "${inst[$dep]:-}" ] || new[$dep]=${cand[$dep]:-1.0}
    done < <(grep -v '^ ' "$S/closure")
fi
for k in "${!new[@]}"; do
    n=${k%:*}
    [[ $k == *:armhf && ${ma[$n]:-} == same && -n ${new[$n:amd64]:-} ]] || continue
    [ "${new[$k]}" = "${new[$n:amd64]}" ] || { echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100; }
done
changed=
for k in "${!inst[@]}"; do [[ $k != *:amd64 || ${new[$k]} = "${inst[$k]}" ]] || changed=1; done
if [ -n "$changed" ] && [ -f "$S/removes" ]; then
    while read -r r; do
        [ -z "${new[$r:amd64]:-}" ] || { [ -n "$sim" ] && echo "Remv $r [${new[$r:amd64]}]"; unset "new[$r:amd64]"; }
    done <"$S/removes"
fi
if [ -n "$sim" ]; then
    for k in "${!new[@]}"; do [ "${new[$k]}" = "${inst[$k]:-}" ] || echo "Inst $k [${inst[$k]:-}] (${new[$k]})"; done
    exit 0
fi
for k in "${!new[@]}"; do echo "${k%:*} ${k##*:} ${new[$k]}"; done >"$S/installed"
EOF

cat >"$fakes/apt-cache" <<'EOF'
#!/usr/bin/env bash
S=$FAKE_STATE
echo "apt-cache $*" >>"$S/log"
# Each name:arch's index lines (show: only the candidate), else one at 1.0.
entries() {
    awk -v only="$1" -v args="${*:2}" '
        BEGIN { n = split(args, want, " ") }
        !(only && seen[$1 ":" $2]++) { line[$1 ":" $2] = line[$1 ":" $2] $0 "\n" }
        END { for (i = 1; i <= n; i++) if (want[i] !~ /^-/) {
            k = want[i]; if (k in line) printf "%s", line[k]
            else { sub(/:/, " ", k); print k, "1.0", "no" } } }' "$S/index"
}
case $1 in
depends) cat "$S/closure" ;;
show)
    entries 1 "${@:2}" | while read -r n a v m; do
        printf 'Package: %s\nVersion: %s\nArchitecture: %s\nMulti-Arch: %s\nDescription: fake\n test: line\n\n' "$n" "$v" "$a" "$m"
    done ;;
madison)
    entries "" "${@:2}" | while read -r n a v _; do
        echo "$n | $v | http://fake.example/debian bookworm/main $a Packages"
    done ;;
*) echo "fake apt-cache: unexpected $*" >&2; exit 1 ;;
esac
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

# A new case: an empty machine; the index has a shared library that both
# architectures have at one version and a tool that is not shared.
fresh() {
    case_name=$1
    export FAKE_STATE=$tmp/$1
    mkdir "$FAKE_STATE"
    : >"$FAKE_STATE/installed"
    printf '%s\n' libc6:armhf '  Depends: libgcc-s1:armhf' libpng-dev:armhf '  Depends: libpng16-16:armhf' \
        '  Depends: <libz-dev:armhf>' libpng16-16:armhf linux-libc-dev:armhf libc-dev-bin:armhf \
        zlib1g:armhf '<libz-dev:armhf>' >"$FAKE_STATE/closure"
    printf '%s\n' "zlib1g amd64 1:1.2.13.dfsg-1 same" "zlib1g armhf 1:1.2.13.dfsg-1 same" \
        "libc-dev-bin amd64 2.36-9+deb12u14 foreign" "libc-dev-bin armhf 2.36-9+deb12u13 foreign" \
        >"$FAKE_STATE/index"
}

has() { printf '%s\n' "$@" >>"$FAKE_STATE/installed"; }
index() { printf '%s\n' "$@" >>"$FAKE_STATE/index"; }

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
expect_install 'libc6:armhf'
expect_install 'chromium'

# Everything installed: nothing is run.
case_name=all_installed
run
expect_rc 0
expect_no_call '^(apt-get|sudo|dpkg --add)'
[ -z "$out" ] || fail "printed something"

# The host has a newer libpng than the armhf index, and its own index
# lacks the armhf version: the paragraph, a failure, the host's packages in.
fresh cannot_align
index "libpng16-16 amd64 1.6.39-2+deb12u6 same" "libpng16-16 armhf 1.6.39-2+deb12u5 same"
has "libpng16-16 amd64 1.6.39-2+deb12u6"
run
[ "$rc" -ne 0 ] || fail "exit status 0"
expect_out 'libpng16-16 is 1\.6\.39-2\+deb12u6 here and 1\.6\.39-2\+deb12u5 in the armhf index'
expect_out 'same version in both'
expect_out 'scripts/test format host browser load asan campaign tsan fuzz'
expect_no_install 'allow-downgrades'
expect_installed "cmake amd64 1.0"
expect_installed "admesh amd64 1.0"
expect_installed "chromium amd64 1.0"
for c in "${calls[@]}"; do
    [[ $c != "apt-get install"* ]] || { [[ $c == *" cmake "* ]] || fail "the host's packages did not go first"; break; }
done

# Both indexes share older versions: both architectures are brought to
# the armhf index's, up and down; a host library already at it is left.
fresh align
index "libpng16-16 amd64 1.6.39-2+deb12u6 same" "libpng16-16 amd64 1.6.39-2+deb12u5 same" \
    "libpng16-16 armhf 1.6.39-2+deb12u5 same" \
    "linux-libc-dev amd64 6.1.194-1 same" "linux-libc-dev amd64 6.1.176-1 same" \
    "linux-libc-dev armhf 6.1.176-1 same"
has "libpng16-16 amd64 1.6.39-2+deb12u4" "linux-libc-dev amd64 6.1.194-1" \
    "zlib1g amd64 1:1.2.13.dfsg-1" "libc-dev-bin amd64 2.36-9+deb12u14" "libpng-tools amd64 1.6.39-2+deb12u4"
echo libpng-tools >"$FAKE_STATE/removes"
run armhf
expect_rc 0
expect_out "aligning the host's .*libpng16-16 \(1\.6\.39-2\+deb12u4 → 1\.6\.39-2\+deb12u5\)"
expect_out "linux-libc-dev \(6\.1\.194-1 → 6\.1\.176-1\).* with the armhf index; this removes libpng-tools"
expect_install 'allow-downgrades.* libpng16-16:amd64=1\.6\.39-2\+deb12u5 libpng16-16:armhf=1\.6\.39-2\+deb12u5'
expect_install 'allow-downgrades.* linux-libc-dev:amd64=6\.1\.176-1 linux-libc-dev:armhf=6\.1\.176-1.* libc6:armhf'
expect_no_install 'zlib1g:|libc-dev-bin:'
expect_installed "libpng16-16 armhf 1.6.39-2+deb12u5"
expect_installed "libpng16-16 amd64 1.6.39-2+deb12u5"
case_name=align_again
run armhf
expect_no_call '^apt-get'

# An alignment that would remove a package a step needs is not made.
fresh align_removes_wanted
index "libpng16-16 amd64 1.6.39-2+deb12u6 same" "libpng16-16 amd64 1.6.39-2+deb12u5 same" \
    "libpng16-16 armhf 1.6.39-2+deb12u5 same"
has "libpng16-16 amd64 1.6.39-2+deb12u6" "librsvg2-dev amd64 2.54.7"
echo librsvg2-dev >"$FAKE_STATE/removes"
run armhf
[ "$rc" -ne 0 ] || fail "exit status 0"
expect_out 'it would remove librsvg2-dev'
expect_out 'scripts/test format host browser load asan campaign tsan fuzz'
expect_call '^apt-get install .*--allow-downgrades -s '
expect_no_call '^apt-get install .*--allow-downgrades (libpng|linux)'
expect_installed "librsvg2-dev amd64 2.54.7"

# A failure that is not the versions: apt's own words, then the way on.
fresh armhf_unknown
echo libpng-dev:armhf >"$FAKE_STATE/unknown"
run armhf
[ "$rc" -ne 0 ] || fail "exit status 0"
expect_out 'Unable to locate package libpng-dev:armhf.*apt-get could not install them'
expect_out 'scripts/test format host browser load asan campaign tsan fuzz'
expect_installed "cmake amd64 1.0"

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

fresh armhf_only
run armhf
expect_rc 0
expect_install 'libc6:armhf'
expect_install 'qemu-user'
expect_no_install 'chromium|clang'
expect_call '^dpkg --add-architecture armhf'

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
