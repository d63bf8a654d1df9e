#!/bin/sh
# Wine for the Windows tests, in a prefix of their own.
#
#   wine.sh init  PREFIX            create the prefix once (about 15 s), with COM1
#                                   mapped to PREFIX/com1 (the link that servo-sim
#                                   makes) and COM5 to a device that does not exist
#   wine.sh start PREFIX            init, then a persistent wineserver with Wine's
#                                   services running (a cold start costs seconds)
#   wine.sh stop  PREFIX            end the wineserver and every process of the prefix
#   wine.sh run   PREFIX EXE ARG... run a Windows program (the CMake emulator);
#                                   with SERVO_WINE_DISPLAY its windows go there
#
# Output of the background processes goes to /dev/null: a process that keeps
# a test's output pipe open would make CTest wait for it.
set -eu

command=${1:?usage: wine.sh init|start|stop|run PREFIX [EXE ARG...]}
prefix=${2:?usage: wine.sh init|start|stop|run PREFIX [EXE ARG...]}
shift 2

case $prefix in
  /*) ;;
  *) prefix=$(pwd)/$prefix ;;
esac
export WINEPREFIX="$prefix"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko installers: the tests run console and Win32 programs only.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Windows get an X display only where a test gives one, never the desktop of
# whoever runs the tests: SERVO_WINE_DISPLAY (a virtual one from
# with_xvfb.sh), else the virtual display that `start` made for the prefix.
# Wine's desktop process binds to the display of the first window it serves
# and lives as long as the wineserver: every program of one persistent server
# must use that same display, or its windows are made without one.
unset DISPLAY WAYLAND_DISPLAY
if [ -n "${SERVO_WINE_DISPLAY:-}" ]; then
  export DISPLAY="$SERVO_WINE_DISPLAY"
elif [ -s "$prefix.display" ] && kill -0 "$(cat "$prefix.xvfb" 2>/dev/null)" 2>/dev/null; then
  DISPLAY=$(cat "$prefix.display")
  export DISPLAY
fi
# Wine takes the ANSI code page from the Linux locale: C.UTF-8 gives 1252 (a
# Western system); SERVO_WINE_LANG=zh_CN gives 936 (a Chinese system) from a
# locale that init compiles into the prefix.
if [ "${SERVO_WINE_LANG:-}" = zh_CN ]; then
  export LOCPATH="$prefix/locale" LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
else
  export LANG=C.UTF-8 LC_ALL=C.UTF-8
fi

need_wine() {
  if ! command -v wine >/dev/null 2>&1 || ! command -v wineserver >/dev/null 2>&1; then
    echo "wine.sh: wine and wineserver are needed (Debian packages wine, wine64): run scripts/setup" >&2
    exit 1
  fi
}

# What init sets up; a prefix made by an older wine.sh is set up again.
layout="servo-wine-prefix 2: COM1, COM5, zh_CN locale, unmanaged windows"

# Ports are read by Wine's mount manager when the wineserver starts, so the
# mapping is made once, here, before any persistent server.
init() {
  need_wine
  [ "$(cat "$prefix/.servo-ready" 2>/dev/null)" = "$layout" ] && return 0
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ "$(cat "$prefix/.servo-ready" 2>/dev/null)" != "$layout" ]; then
      wineserver -k >/dev/null 2>&1 || true
      wineboot -i </dev/null >/dev/null 2>&1
      wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$prefix/com1" /f \
        </dev/null >/dev/null 2>&1
      # COM5 stands for a port whose device has gone (an unplugged adapter),
      # whatever serial devices the machine has.
      wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /t REG_SZ /d "$prefix/absent-com5" /f \
        </dev/null >/dev/null 2>&1
      # Windows unmanaged by any X window manager: on a bare virtual display
      # Wine would otherwise wait for one each time a window is hidden.
      wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
        </dev/null >/dev/null 2>&1
      mkdir -p "$prefix/locale"
      localedef -i zh_CN -f UTF-8 "$prefix/locale/zh_CN.UTF-8"
      wineserver -w
      echo "$layout" >"$prefix/.servo-ready"
    fi
  ) 9>"$prefix.lock"
}

case $command in
  init)
    init
    ;;
  start)
    init
    # One virtual display for the persistent server's whole life, when Xvfb
    # is there (the GUI tests need it; the console tests run without).
    if [ -z "${SERVO_WINE_DISPLAY:-}" ] && command -v Xvfb >/dev/null 2>&1 &&
      ! kill -0 "$(cat "$prefix.xvfb" 2>/dev/null)" 2>/dev/null; then
      fifo=$(mktemp -u)
      mkfifo "$fifo"
      # -displayfd picks a free display number and writes it once it is ready.
      setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" \
        </dev/null >/dev/null 2>&1 &
      echo $! >"$prefix.xvfb"
      read -r number <"$fifo"
      rm -f "$fifo"
      if [ -n "$number" ]; then
        echo ":$number" >"$prefix.display"
        export DISPLAY=":$number"
      fi
    fi
    # Refused when a server already runs for the prefix: that one serves.
    wineserver -p </dev/null >/dev/null 2>&1 || true
    wine cmd.exe /c exit </dev/null >/dev/null 2>&1
    ;;
  stop)
    need_wine
    wineserver -k </dev/null >/dev/null 2>&1 || true
    if [ -s "$prefix.xvfb" ]; then
      kill "$(cat "$prefix.xvfb")" 2>/dev/null || true
    fi
    rm -f "$prefix.xvfb" "$prefix.display"
    ;;
  run)
    init
    exec wine "$@"
    ;;
  *)
    echo "wine.sh: unknown command $command" >&2
    exit 2
    ;;
esac
