#!/bin/sh
# Installs the Debian packages the build and the tests need, and only those
# that are missing, so that repeated runs cost nothing and touch no network.
set -eu

PACKAGES="build-essential cmake ninja-build pkg-config libgtest-dev libgmock-dev \
libbenchmark-dev zlib1g-dev locales python3 libgsf-1-dev python3-olefile python3-dbfread \
qt6-base-dev qt6-svg-dev libqt6svg6 fonts-dejavu-core libxlsxwriter-dev python3-openpyxl"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

# Number formatting is tested under a locale with a decimal comma.
need_locale() {
    ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'
}

make_locale() {
    if need_locale && [ "$(id -u)" -eq 0 ] && command -v localedef >/dev/null 2>&1; then
        localedef -i ru_RU -f UTF-8 ru_RU.UTF-8 || echo "could not build the ru_RU.UTF-8 locale" >&2
    fi
}

if [ -z "$missing" ]; then
    make_locale
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages:$missing (run as root, or install them yourself)" >&2
    exit 1
fi
echo "installing:$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update
# shellcheck disable=SC2086
apt-get install -y --no-install-recommends $missing
make_locale
