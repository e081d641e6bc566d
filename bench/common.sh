# What the benchmarks share; sourced from the top of the source tree.

# needs TOOL...: stops, naming the first tool that is not installed.
needs() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "bench: needs $tool" >&2; exit 1; }
  done
}

# release_build DIR: the tool built in DIR as it is released, without tests.
release_build() {
  cmake -S . -B "$1" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$1" --parallel >/dev/null
}

# install_release WORK: the tool built as released in WORK/ventrim and
# installed under WORK/prefix, where find_package finds it.
install_release() {
  release_build "$1/ventrim"
  cmake --install "$1/ventrim" --prefix "$1/prefix" >/dev/null
}
