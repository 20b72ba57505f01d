# Shared by the scripts: the project root, and installing what is missing.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

# Debian packages the build, the tests and the demo need.
BUILD_PACKAGES=(cmake g++ make pkg-config libssl-dev libb2-dev qt6-base-dev libgtest-dev libgmock-dev fonts-arphic-uming fonts-noto-cjk)
TEST_PACKAGES=(python3 python3-pyftpdlib minisign microsocks dante-server curl clang-14 libclang-rt-14-dev)
DEMO_PACKAGES=(python3 python3-pyftpdlib minisign)
# scripts/bench: the FTP server and client it measures against, Google Benchmark,
# GNU time for peak memory.
BENCH_PACKAGES=(vsftpd curl libbenchmark-dev time python3 procps)

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
