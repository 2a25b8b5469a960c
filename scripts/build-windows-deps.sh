#!/usr/bin/env bash
# Builds what the Windows station links and Debian does not ship for
# mingw-w64: Qt 6 (Core, Gui, Widgets, Test; static, size-optimised) from
# Debian's qt6-base source with Debian's patches applied, and SQLite from
# Debian's sqlite3 source. Both are the versions of the host's packages, so
# the host's moc, rcc and uic (qt6-base-dev-tools) build for this Qt.
#
# The result goes to a folder outside the repository, keyed by those versions
# and by this script's own hash:
#   ${VEXORA_WINDOWS_CACHE:-~/.cache/vexora-windows}/qt-VERSION-HASH
# A machine that built it once finds it there and builds nothing. The last
# line printed is the folder. Sources come through an apt source list of the
# script's own (deb-src entries for the suites the machine's apt already
# uses); the machine's apt configuration is left alone.
set -euo pipefail

cache="${VEXORA_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vexora-windows}"
qt_version="$(dpkg-query -W -f='${Version}' qt6-base-dev)"
sqlite_version="$(dpkg-query -W -f='${Version}' libsqlite3-dev)"
script_hash="$(sha256sum "${BASH_SOURCE[0]}" | cut -c1-12)"
prefix="$cache/qt-$qt_version-sqlite-$sqlite_version-$script_hash"
jobs="${VEXORA_JOBS:-$(nproc)}"

mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9 # one build at a time; a second caller waits and then finds it done
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

# Fixed paths for the sources and the build (not keyed), so that a compiler
# cache hits again after the script changed.
work="$cache/work"
rm -rf "$work" "$prefix" "$prefix.partial"
mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/apt/parts" "$work/src"

echo "build-windows-deps: fetching qt6-base $qt_version and sqlite3 $sqlite_version sources" >&2
codename="$(. /etc/os-release && echo "$VERSION_CODENAME")"
python3 - "$codename" >"$work/apt/sources.list" <<'EOF'
# deb-src twins of the machine's deb entries for this Debian release.
import glob, os, sys
codename = sys.argv[1]
def ours(suite):
    return suite.split('-')[0] == codename
for name in ['/etc/apt/sources.list'] + sorted(glob.glob('/etc/apt/sources.list.d/*.list')):
    if not os.path.exists(name):
        continue
    for line in open(name):
        words = line.split()
        if not words or words[0] != 'deb':
            continue
        i = 1
        if words[1].startswith('['):
            while not words[i].endswith(']'):
                i += 1
            i += 1
        if len(words) > i + 1 and ours(words[i + 1]):
            print('deb-src ' + ' '.join(words[1:]))
for name in sorted(glob.glob('/etc/apt/sources.list.d/*.sources')):
    for block in open(name).read().split('\n\n'):
        fields, key = {}, None
        for line in block.splitlines():
            if not line.strip() or line.startswith('#'):
                continue
            if line[0] in ' \t' and key:
                fields[key] += ' ' + line.strip()
                continue
            key, _, value = line.partition(':')
            key = key.strip()
            fields[key] = value.strip()
        if 'deb' not in fields.get('Types', '').split() or fields.get('Enabled', 'yes') == 'no':
            continue
        signed = fields.get('Signed-By', '')
        options = ' [signed-by=%s]' % signed if signed.startswith('/') else ''
        for uri in fields.get('URIs', '').split():
            for suite in filter(ours, fields.get('Suites', '').split()):
                print('deb-src%s %s %s %s' % (options, uri, suite, fields.get('Components', 'main')))
EOF
apt=(-o Dir::Etc::SourceList="$work/apt/sources.list" -o Dir::Etc::SourceParts="$work/apt/parts"
     -o Dir::State::Lists="$work/apt/lists" -o Dir::Cache="$work/apt/cache")
apt-get "${apt[@]}" -qq update
(cd "$work/src" && apt-get "${apt[@]}" -qq source --download-only \
   "qt6-base=$qt_version" "sqlite3=$sqlite_version" 2>&1 | grep -v 'unsandboxed as root' || true)
# dpkg-source applies Debian's patches (its security fixes among them).
for package in qt6-base:qtbase sqlite3:sqlite; do
  dpkg-source -x "$work/src/${package%%:*}"_*.dsc "$work/src/${package#*:}" >"$work/unpack.log" 2>&1 ||
    { cat "$work/unpack.log" >&2; exit 1; }
done
# Qt 6.4.2's windows plugin asks a dynamic OpenGL whether it is software
# OpenGL even in a build without OpenGL; without OpenGL it is not.
python3 - "$work/src/qtbase/src/plugins/platforms/windows/qwindowswindow.cpp" <<'EOF2'
import sys
path = sys.argv[1]
text = open(path).read()
old = "static inline bool isSoftwareGl()\n{\n#if QT_CONFIG(dynamicgl)\n"
new = "static inline bool isSoftwareGl()\n{\n#if QT_CONFIG(dynamicgl) && QT_CONFIG(opengl)\n"
if old not in text:
    sys.exit("build-windows-deps: qwindowswindow.cpp is not the one this script knows")
open(path, 'w').write(text.replace(old, new))
EOF2

cat >"$work/mingw.cmake" <<'EOF'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF

# Qt. What the tarball lacks or mingw-w64 cannot build is off: tablet input
# (its wintab headers are not in the +dfsg tarball), Direct2D and the
# DirectWrite 3 font database (which the windows plugin only builds with
# Direct2D). Every third-party library is Qt's bundled copy, so the static
# station needs no DLL. Modules and widgets the station does not use are off.
off=(opengl vulkan network sql dbus printsupport xml concurrent
     tabletevent direct2d directwrite3 icu glib zstd openssl pdf sessionmanager
     gif ico movie systemtrayicon style-windowsvista
     graphicsview graphicseffect calendarwidget datetimeedit mdiarea dial lcdnumber
     fontcombobox fontdialog colordialog wizard keysequenceedit splashscreen undoview
     system-zlib system-pcre2 system-png system-jpeg system-freetype system-harfbuzz
     system-doubleconversion system-libb2 system-textmarkdownreader)
flags=()
for f in "${off[@]}"; do flags+=("-DFEATURE_${f//-/_}=OFF"); done
echo "build-windows-deps: configuring Qt" >&2
start=$(date +%s)
cmake -S "$work/src/qtbase" -B "$work/qt-build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$work/mingw.cmake" \
      -DCMAKE_INSTALL_PREFIX="$prefix.partial" \
      -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
      -DQT_QMAKE_TARGET_MKSPEC=win32-g++ \
      -DCMAKE_BUILD_TYPE=Release -DFEATURE_optimize_size=ON -DBUILD_SHARED_LIBS=OFF \
      -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
      -DFEATURE_freetype=ON -DFEATURE_harfbuzz=ON -DFEATURE_jpeg=ON -DFEATURE_png=ON \
      -DFEATURE_testlib=ON -DFEATURE_widgets=ON \
      "${flags[@]}" >"$work/qt-configure.log" 2>&1 ||
  { tail -40 "$work/qt-configure.log" >&2; exit 1; }
configured=$(date +%s)
echo "build-windows-deps: building Qt ($jobs jobs)" >&2
# The machine's load while Qt builds (other work shares the cores), sampled
# every 10 s, for the build report.
(while sleep 10; do cut -d' ' -f1 /proc/loadavg; done) >"$work/load" &
sampler=$!
cmake --build "$work/qt-build" --parallel "$jobs" >"$work/qt-build.log" 2>&1 ||
  { kill "$sampler"; grep -B5 -A20 'FAILED\|error:' "$work/qt-build.log" | head -80 >&2; exit 1; }
built=$(date +%s)
kill "$sampler"
load="$(awk '{s += $1; n++} END {if (n) printf "%.1f", s / n; else print "?"}' "$work/load")"
cmake --install "$work/qt-build" >/dev/null

# The station decodes its JPEG pictures through libjpeg's own interface:
# Qt's bundled copy (installed as a static library) with its headers.
mkdir -p "$prefix.partial/include/jpeg"
for h in jpeglib.h jconfig.h jmorecfg.h jerror.h; do
  cp "$work/src/qtbase/src/3rdparty/libjpeg/src/$h" "$prefix.partial/include/jpeg/"
done

# SQLite: the amalgamation made from Debian's source by its own build, then
# compiled for Windows with the compile-time options Debian builds it with.
echo "build-windows-deps: building SQLite" >&2
(cd "$work/src/sqlite" && ./configure --disable-tcl >/dev/null && make -s sqlite3.c >/dev/null)
sqlite_flags=(-Os -DSQLITE_THREADSAFE=1 -DSQLITE_USE_URI=1 -DSQLITE_SECURE_DELETE
              -DSQLITE_ENABLE_COLUMN_METADATA -DSQLITE_ENABLE_FTS3 -DSQLITE_ENABLE_FTS3_PARENTHESIS
              -DSQLITE_ENABLE_RTREE=1 -DSQLITE_SOUNDEX=1 -DSQLITE_ENABLE_UNLOCK_NOTIFY
              -DSQLITE_ENABLE_DBSTAT_VTAB -DSQLITE_ALLOW_ROWID_IN_VIEW
              -DSQLITE_ENABLE_UPDATE_DELETE_LIMIT=1 -DSQLITE_ENABLE_JSON1
              -DSQLITE_LIKE_DOESNT_MATCH_BLOBS -DSQLITE_MAX_SCHEMA_RETRY=25
              -DSQLITE_ENABLE_PREUPDATE_HOOK -DSQLITE_ENABLE_SESSION -DSQLITE_ENABLE_STMTVTAB
              -DSQLITE_MAX_VARIABLE_NUMBER=250000 -DSQLITE_OMIT_LOAD_EXTENSION)
x86_64-w64-mingw32-gcc-posix "${sqlite_flags[@]}" -c "$work/src/sqlite/sqlite3.c" -o "$work/sqlite3.o"
x86_64-w64-mingw32-ar rcs "$prefix.partial/lib/libsqlite3.a" "$work/sqlite3.o"
cp "$work/src/sqlite/sqlite3.h" "$work/src/sqlite/sqlite3ext.h" "$prefix.partial/include/"

cat >"$prefix.partial/BUILD-INFO" <<EOF
qt6-base $qt_version, sqlite3 $sqlite_version, built by build-windows-deps.sh $script_hash
Qt configure: $((configured - start)) s; Qt build: $((built - configured)) s with $jobs jobs on $(nproc) cores, mean load $load
EOF
cat "$prefix.partial/BUILD-INFO" >&2
touch "$prefix.partial/.complete"
mv "$prefix.partial" "$prefix"
rm -rf "$work"
echo "$prefix"
