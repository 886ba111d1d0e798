#!/usr/bin/env bash
# Installs the build into a temporary prefix whose bin folder the user running the program cannot
# write (an unprivileged user when this runs as root), starts the installed program offscreen,
# ends it with SIGTERM and checks that it exited with 0 and kept its settings in the user's
# configuration folder, and that the next start reads them from there. Also checks where the help
# pages, menu entry and metainfo were installed.
#   test_app_install.sh CMAKE BUILD_FOLDER
set -euo pipefail
cmake=$1
build=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >/dev/null

home=$work/home
mkdir -p "$home"
as_user=()
if [ "$(id -u)" = 0 ]; then
  chown nobody "$home"
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
  # A sanitizer build reads its suppressions as that user too: give it a copy it can read.
  if [[ ${LSAN_OPTIONS:-} =~ suppressions=([^:]*) ]]; then
    cp "${BASH_REMATCH[1]}" "$work/lsan.supp"
    chmod 644 "$work/lsan.supp"
    export LSAN_OPTIONS=${LSAN_OPTIONS/${BASH_REMATCH[1]}/$work/lsan.supp}
  fi
fi
chmod a-w "$prefix/bin"
# Whatever the install put there; the program itself adds nothing to it.
installed=$(ls "$prefix/bin")
settings=$home/.config/KorvelService/KorvelService.xml

fail() { echo "FAIL: $*"; exit 1; }

# True once the program runs and has its own SIGTERM handler, as the kernel reports it. The shell
# that starts it catches SIGTERM itself (for its EXIT trap) until it has replaced itself with the
# program, so the process must be the program first.
catches_sigterm() {
  local mask
  [ "/proc/$1/exe" -ef "$prefix/bin/KorvelService" ] || return 1
  mask=$(awk '/^SigCgt:/ {print $2}' "/proc/$1/status" 2>/dev/null) || return 1
  [ -n "$mask" ] && (( (0x$mask >> 14) & 1 ))
}

# Starts the installed program, waits until it is up, ends it with SIGTERM; answers its status.
run_and_terminate() {
  HOME=$home XDG_CONFIG_HOME=$home/.config XDG_RUNTIME_DIR= QT_QPA_PLATFORM=offscreen \
    "${as_user[@]}" "$prefix/bin/KorvelService" &
  local pid=$! deadline=$((SECONDS + 30))
  until catches_sigterm "$pid"; do
    kill -0 "$pid" 2>/dev/null || fail "the program ended before it was up"
    [ $SECONDS -lt $deadline ] || { kill -KILL "$pid"; fail "the program did not come up"; }
    sleep 0.1
  done
  kill -TERM "$pid"
  local status=0
  wait "$pid" || status=$?
  return $status
}

run_and_terminate || fail "exit status $? at the first close"
[ -f "$settings" ] || fail "no settings file at $settings"
grep -q '<TCPPort>502</TCPPort>' "$settings" || fail "unexpected settings: $(cat "$settings")"
[ "$(ls "$prefix/bin")" = "$installed" ] ||
  fail "something was written beside the program: $(ls "$prefix/bin")"

# A settings file root left beside the installed program is not this user's: it is neither used nor
# in the way of closing.
if [ "$(id -u)" = 0 ]; then
  rootsfile='<CONNECT><IPAddress>192.168.127.10</IPAddress><TCPPort>502</TCPPort></CONNECT>'
  chmod u+w "$prefix/bin"
  printf '%s' "$rootsfile" >"$prefix/bin/KorvelService.xml"
  chmod a-w "$prefix/bin"
  printf '<CONNECT><IPAddress>127.0.0.1</IPAddress><TCPPort>1501</TCPPort></CONNECT>' >"$settings"
  run_and_terminate || fail "exit status $? beside root's settings file"
  grep -q '<TCPPort>1501</TCPPort>' "$settings" || fail "the user's own settings were not kept: $(cat "$settings")"
  [ "$(cat "$prefix/bin/KorvelService.xml")" = "$rootsfile" ] || fail "root's settings file was changed"
  chmod u+w "$prefix/bin"
  rm "$prefix/bin/KorvelService.xml"
  chmod a-w "$prefix/bin"
fi

# The next start reads the file: it writes back the port it found and drops the extra element.
printf '<CONNECT><IPAddress>127.0.0.1</IPAddress><TCPPort>1502</TCPPort><Extra>1</Extra></CONNECT>' >"$settings"
run_and_terminate || fail "exit status $? at the second close"
expected=$(printf '<CONNECT>\r\n <IPAddress>127.0.0.1</IPAddress>\r\n <TCPPort>1502</TCPPort>\r\n</CONNECT>\r\n')
[ "$(cat "$settings")" = "$expected" ] || fail "the second start did not read the settings: $(cat "$settings")"

[ -f "$prefix/share/KorvelService/Help/KorvelService_Conent.htm" ] || fail "help pages not under share/KorvelService/Help"
[ ! -e "$prefix/bin/Help" ] || fail "help pages among the binaries"
# One file per program: the program takes one configuration file.
grep -q '^Exec=KorvelService %f$' "$prefix/share/applications/KorvelService.desktop" || fail "menu entry without %f"
metainfo=$prefix/share/metainfo/io.github.korvel.KorvelService.metainfo.xml
[ -f "$metainfo" ] || fail "no metainfo"
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$metainfo" >/dev/null || fail "metainfo does not validate"
fi
echo "installed program: settings under XDG, help under share, menu entry and metainfo in place"
