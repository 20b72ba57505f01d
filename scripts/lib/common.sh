# Shared by the scripts: the project root, and installing what is missing.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

# Debian packages the build, the tests and the demo need.
BUILD_PACKAGES=(cmake g++ make pkg-config libb2-dev qt6-base-dev libgtest-dev libgmock-dev fonts-arphic-uming fonts-noto-cjk)
# vsftpd is a second real FTP server; iproute2 and nftables build the
# namespaces of the test of a client behind a router that masquerades.
TEST_PACKAGES=(python3 python3-pyftpdlib minisign microsocks dante-server vsftpd iproute2 nftables curl clang-14 libclang-rt-14-dev)
DEMO_PACKAGES=(python3 python3-pyftpdlib minisign)
# scripts/bench: the FTP server and client it measures against, Google Benchmark,
# GNU time for peak memory.
BENCH_PACKAGES=(vsftpd curl libbenchmark-dev time python3 procps)
# FTP over TLS: OpenSSL to build; a TLS server of each kind for the tests;
# the command line tool that makes the benchmark's certificates.
BUILD_PACKAGES+=(libssl-dev)
TEST_PACKAGES+=(vsftpd python3-openssl)
BENCH_PACKAGES+=(openssl)

# Installs the named Debian packages that are not installed yet.
install_missing() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
  fi
}

jobs() { nproc 2>/dev/null || echo 2; }
