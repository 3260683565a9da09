#!/usr/bin/env bash
# Makes the prefix for cross-building the program for 64-bit Windows: Qt and SQLite from the
# shared archive (or rebuilt the shared script's way when the archive is absent), then what the
# archive lacks, cross-built with MinGW-w64 from Debian's source packages: libqrencode (the
# certificate's QR code), libmdb of mdbtools with its own small glib replacement (the .mdb
# import), libpq of postgresql-15 (server registries), and Qt's Spanish texts from
# qt6-translations-l10n. A part already built (its stamp in share/tarjetas-toolchain/ names the
# same source version) is skipped, so a second run takes seconds.
#
# Usage: tools/windows/toolchain.sh [PREFIX]      (default /opt/tarjetas-win64)
# Environment: TARJETAS_WIN64_ARCHIVE (the shared archive), TARJETAS_WIN64_WORK (scratch folder).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
prefix="${1:-${TARJETAS_WIN64_PREFIX:-/opt/tarjetas-win64}}"
# shared/ lies beside the clone (in a worktree of it, one level further up); a clone made
# elsewhere on this machine (CI's) finds it in /work.
for shared in "$repo/../shared/toolchains" "$repo/../../shared/toolchains" \
  /work/shared/toolchains; do
  [ -d "$shared" ] && break
done
archive="${TARJETAS_WIN64_ARCHIVE:-$shared/tarjetas-win64-qt6.4.2-sqlite3.40.1.tar.xz}"
work="${TARJETAS_WIN64_WORK:-${TMPDIR:-/tmp}/tarjetas-win64-work}"
host=x86_64-w64-mingw32
stamps="$prefix/share/tarjetas-toolchain"
jobs="$(nproc)"

say() { printf '[toolchain] %s\n' "$*"; }
done_already() { [ -f "$stamps/$1" ] && [ "$(cat "$stamps/$1")" = "$2" ]; }
stamp() { mkdir -p "$stamps" && printf '%s\n' "$2" > "$stamps/$1"; }

"$repo/tools/deps.sh" windows
mkdir -p "$work"

# Qt and SQLite: the archive unpacks to a folder named like the prefix's last component.
if [ ! -f "$prefix/lib/cmake/Qt6/qt.toolchain.cmake" ]; then
  if [ -f "$archive" ]; then
    say "unpacking $(basename "$archive") into $(dirname "$prefix")"
    mkdir -p "$(dirname "$prefix")"
    unpack="$work/unpack"
    rm -rf "$unpack" && mkdir -p "$unpack"
    tar -xJf "$archive" -C "$unpack"
    rm -rf "$prefix"
    mv "$unpack"/* "$prefix"
    rm -rf "$unpack"
  elif [ -f "$shared/make-win64-prefix.sh" ]; then
    say "no archive at $archive: building Qt and SQLite from Debian's sources (1-2 hours)"
    bash "$shared/make-win64-prefix.sh" "$prefix" "$work/qt"
  else
    say "neither the archive nor the script that makes it was found in $shared" >&2
    exit 1
  fi
fi
toolchain_file="$prefix/mingw.cmake"

# Debian's source packages through a list of this script's own, never the system's. Bookworm's
# postgresql-15 and the sources trixie carries for qrencode and mdbtools (the same qrencode 4.1.1
# as bookworm, mdbtools 1.0.1 where bookworm has 1.0.0), since the archive serves those whole.
uri=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1)
uri=${uri:-http://deb.debian.org/debian}
apt_dir="$work/apt"
mkdir -p "$apt_dir/lists/partial"
printf 'deb-src %s bookworm main\ndeb-src %s trixie main\n' "$uri" "$uri" > "$apt_dir/src.list"
aptopt=(-o Dir::State::Lists="$apt_dir/lists" -o Dir::Etc::SourceList="$apt_dir/src.list"
        -o Dir::Etc::SourceParts=/dev/null -o APT::Sandbox::User=root)
lists_updated=0

# fetch PACKAGE VERSION: the source package's files in $work/src. Where the archive lacks the
# .dsc, the tarballs apt did fetch (checked against the index's sums) are enough to unpack.
fetch() {
  local pkg=$1 version=$2
  mkdir -p "$work/src"
  if ls "$work/src/${pkg}_${version%-*}".orig.* "$work/src/${pkg}_${version}".debian.* \
    > /dev/null 2>&1; then return 0; fi
  if [ $lists_updated = 0 ]; then
    apt-get "${aptopt[@]}" update -qq
    lists_updated=1
  fi
  (cd "$work/src" && apt-get "${aptopt[@]}" source --download-only -qq "$pkg=$version") ||
    say "apt could not fetch every file of $pkg $version; going on with those it did"
  ls "$work/src/${pkg}_${version%-*}".orig.* "$work/src/${pkg}_${version}".debian.* \
    > /dev/null 2>&1 || {
    say "the source of $pkg $version could not be fetched" >&2
    return 1
  }
}

# unpack PACKAGE VERSION DIR: the source tree with Debian's patches applied.
unpack() {
  local pkg=$1 version=$2 dir=$3 upstream=${2%-*}
  rm -rf "$dir"
  if [ -f "$work/src/${pkg}_${version}.dsc" ]; then
    dpkg-source --no-check -x "$work/src/${pkg}_${version}.dsc" "$dir" > /dev/null
    # dpkg-source leaves a link to the upstream tarball beside the tree.
    rm -f "$(dirname "$dir")/${pkg}_${upstream}".orig.*
    return
  fi
  mkdir -p "$dir"
  tar -xf "$work/src/${pkg}_${upstream}".orig.tar.* -C "$dir" --strip-components=1
  tar -xf "$work/src/${pkg}_${version}".debian.tar.* -C "$dir"
  if [ -f "$dir/debian/patches/series" ]; then
    grep -v '^\s*#' "$dir/debian/patches/series" | while read -r p _; do
      [ -n "$p" ] && patch -d "$dir" -p1 -s < "$dir/debian/patches/$p"
    done
  fi
}

# pkg-config files with a prefix relative to themselves, so that the prefix can move.
relocatable_pc() {
  sed -i 's|^prefix=.*|prefix=${pcfiledir}/../..|; s|^exec_prefix=.*|exec_prefix=${prefix}|;
          s|^libdir=.*|libdir=${prefix}/lib|; s|^includedir=.*|includedir=${prefix}/include|' "$@"
}

# libqrencode, with its own CMake build, as a DLL.
qr_version=4.1.1-2
if done_already qrencode "$qr_version"; then
  say "libqrencode $qr_version already built"
else
  say "libqrencode $qr_version"
  fetch qrencode "$qr_version"
  unpack qrencode "$qr_version" "$work/qrencode"
  cmake -S "$work/qrencode" -B "$work/qrencode-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON -DWITH_TOOLS=OFF -DWITH_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX="$prefix" -Wno-dev > "$work/qrencode.log"
  cmake --build "$work/qrencode-build" >> "$work/qrencode.log"
  cmake --install "$work/qrencode-build" >> "$work/qrencode.log"
  # Its CMake build installs the DLL beside the import library; Windows looks beside the program.
  mv -f "$prefix"/lib/libqrencode*.dll "$prefix/bin/"
  relocatable_pc "$prefix/lib/pkgconfig/libqrencode.pc"
  rm -rf "$work/qrencode" "$work/qrencode-build"
  stamp qrencode "$qr_version"
fi

# libmdb of mdbtools: its autotools build, glib replaced by its own small shim, no iconv (there is
# none for MinGW in Debian). Mends for Windows (patches/mdbtools-windows.patch): the locale type
# of the MinGW runtime, C linkage of the glib replacement for C++, and
# UTF-16 text turned into UTF-8 by Windows itself, since msvcrt has no UTF-8 locale and the
# library's own way would lose every non-ASCII letter of a name.
mdb_version=1.0.1-0.1
mdb_recipe="$mdb_version $(sha256sum "$here/patches/mdbtools-windows.patch" | cut -c1-16)"
if done_already mdbtools "$mdb_recipe"; then
  say "libmdb $mdb_version already built"
else
  say "libmdb $mdb_version"
  fetch mdbtools "$mdb_version"
  unpack mdbtools "$mdb_version" "$work/mdbtools"
  patch -d "$work/mdbtools" -p1 -s < "$here/patches/mdbtools-windows.patch"
  (
    cd "$work/mdbtools"
    autoreconf -i -f > "$work/mdbtools.log" 2>&1
    ./configure --host=$host CC=$host-gcc-posix --prefix="$prefix" --disable-glib --disable-iconv \
      --disable-man --enable-shared --disable-static >> "$work/mdbtools.log"
    make -C src/libmdb -j"$jobs" >> "$work/mdbtools.log"
    make -C src/libmdb install >> "$work/mdbtools.log"
    make -C include install >> "$work/mdbtools.log"
    install -m 644 libmdb.pc "$prefix/lib/pkgconfig/"
  )
  rm -f "$prefix/lib/libmdb.la"
  relocatable_pc "$prefix/lib/pkgconfig/libmdb.pc"
  rm -rf "$work/mdbtools"
  stamp mdbtools "$mdb_recipe"
fi

# libpq of postgresql-15, the client library only: without OpenSSL, GSSAPI, LDAP, zlib or ICU,
# none of which Debian carries for MinGW. Connections are plain TCP (sslmode prefer falls back).
pg_version=15.18-0+deb12u1
if done_already libpq "$pg_version"; then
  say "libpq $pg_version already built"
else
  say "libpq $pg_version (a few minutes)"
  fetch postgresql-15 "$pg_version"
  unpack postgresql-15 "$pg_version" "$work/postgresql"
  (
    cd "$work/postgresql"
    ./configure --host=$host CC=$host-gcc-posix --prefix="$prefix" --without-readline \
      --without-zlib --without-icu --without-openssl --without-gssapi --without-ldap \
      --without-perl --without-python --without-tcl --disable-nls --disable-rpath \
      > "$work/libpq.log" 2>&1
    # The frontend variants of the common and port libraries only, not the server's.
    make -C src/include -j"$jobs" >> "$work/libpq.log" 2>&1
    make -C src/common -j"$jobs" libpgcommon.a libpgcommon_shlib.a >> "$work/libpq.log" 2>&1
    make -C src/port -j"$jobs" libpgport.a libpgport_shlib.a >> "$work/libpq.log" 2>&1
    make -C src/interfaces/libpq -j"$jobs" >> "$work/libpq.log" 2>&1
    make -C src/interfaces/libpq install >> "$work/libpq.log" 2>&1
    install -m 644 src/include/postgres_ext.h src/include/pg_config_ext.h src/include/pg_config.h \
      "$prefix/include/"
  )
  rm -f "$prefix/lib/libpq.dll"
  relocatable_pc "$prefix/lib/pkgconfig/libpq.pc"
  rm -rf "$work/postgresql"
  stamp libpq "$pg_version"
fi

# Qt's PostgreSQL driver, built alone from Debian's qt6-base source against the installed Qt and
# that libpq, as the shared script builds the SQLite one.
qt_version=6.4.2+dfsg-10
psql_recipe="$qt_version $pg_version"
if done_already qsqlpsql "$psql_recipe" && [ -f "$prefix/plugins/sqldrivers/qsqlpsql.dll" ]; then
  say "Qt's PostgreSQL driver already built"
else
  say "Qt's PostgreSQL driver ($qt_version)"
  fetch qt6-base "$qt_version"
  rm -rf "$work/qtbase-everywhere-src-6.4.2"
  tar -xJf "$work/src/qt6-base_${qt_version%-*}.orig.tar.xz" -C "$work" \
    --wildcards 'qtbase-everywhere-src-6.4.2/src/plugins/sqldrivers/*'
  "$prefix/bin/qt-cmake" -S "$work/qtbase-everywhere-src-6.4.2/src/plugins/sqldrivers" \
    -B "$work/qsqlpsql-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DFEATURE_sql_psql=ON -DFEATURE_sql_sqlite=OFF \
    -DFEATURE_sql_odbc=OFF -DFEATURE_sql_mysql=OFF -DFEATURE_sql_ibase=OFF -DFEATURE_sql_oci=OFF \
    -DFEATURE_sql_db2=OFF -DPostgreSQL_INCLUDE_DIR="$prefix/include" \
    -DPostgreSQL_LIBRARY="$prefix/lib/libpq.a" > "$work/qsqlpsql.log" 2>&1
  cmake --build "$work/qsqlpsql-build" >> "$work/qsqlpsql.log" 2>&1
  cmake --install "$work/qsqlpsql-build" >> "$work/qsqlpsql.log" 2>&1
  [ -f "$prefix/plugins/sqldrivers/qsqlpsql.dll" ] || {
    say "Qt's PostgreSQL driver was not built: see $work/qsqlpsql.log" >&2
    exit 1
  }
  rm -rf "$work/qtbase-everywhere-src-6.4.2" "$work/qsqlpsql-build"
  stamp qsqlpsql "$psql_recipe"
fi

# Qt's Spanish texts for its dialogs and buttons, from Debian's qt6-translations-l10n.
qm=/usr/share/qt6/translations/qtbase_es.qm
qm_version=$(dpkg-query -W -f='${Version}' qt6-translations-l10n)
if done_already translations "$qm_version" && [ -f "$prefix/translations/qtbase_es.qm" ]; then
  say "Qt's Spanish texts already in place"
else
  install -D -m 644 "$qm" "$prefix/translations/qtbase_es.qm"
  stamp translations "$qm_version"
fi

say "prefix ready: $prefix"
