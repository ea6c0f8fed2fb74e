# Debian packages the build, the tests and the programs need; sourced by the
# top-level scripts. Installs only what is missing, so a warm machine pays
# one dpkg query.
AMBIT_PACKAGES=(cmake ninja-build g++ pkg-config googletest libgtest-dev libgmock-dev
                libbenchmark-dev zlib1g-dev libssl-dev clang libclang-rt-14-dev ccache
                # the user interface: windows, GL on Mesa, fonts, pictures, PDF pages,
                # and the X server, input and clipboard tools its tests drive
                libsdl2-dev libgl-dev libgl1-mesa-dri libfreetype-dev fonts-dejavu-core
                libpng-dev libpoppler-cpp-dev xdg-utils xvfb xauth xdotool xclip
                # ambit-shot: an X display's pixels into a PNG (./run --headless)
                libx11-dev
                # a window manager for the screens' window tests (maximise, restore)
                openbox
                # pdftoppm: the reference rendering of PDF pages in the tests
                poppler-utils
                # an encrypted PDF among the document tests' files
                qpdf
                # the terminal's tests: a second VT100 screen as the reference, and
                # the VT100 test program whose output streams they replay
                libvterm-dev
                vttest
                # the feed parser's tests: a real XML parser as the reference
                libxml2-dev
                # ... and a public corpus of feeds with the fields another parser
                # reads from each, and a JSON reader for those expectations
                golang-github-mmcdole-gofeed-dev
                nlohmann-json3-dev
                # the log window's tests: a terminal emulator reads back the cell colours
                python3-pyte
                # real HTTP peers of the io tests: proxies with Basic, Digest and
                # NTLM sign-on, a file server, and the password-file tool
                squid tinyproxy nginx apache2-utils)

ensure_packages() {
  local missing=()
  local p
  for p in "${AMBIT_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}"
  fi
}
