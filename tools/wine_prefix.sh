# Sourced by the Windows scripts: points Wine at the project's own prefix
# (WINEPREFIX, default <mingw build>/wineprefix) and creates it once.
# Needs $wine (the loader) and $mingw (the cross build directory).
export WINEPREFIX="${WINEPREFIX:-$mingw/wineprefix}"
export WINEDEBUG=-all
export WINEARCH=win64
# No desktop, no Mono or Gecko installers: the programs are console ones.
export DISPLAY=
export WINEDLLOVERRIDES='mscoree,mshtml='
mkdir -p "$WINEPREFIX"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Creating the Wine prefix $WINEPREFIX"
  "$wine" wineboot.exe -i >/dev/null 2>&1 || true
  wineserver -w
fi
