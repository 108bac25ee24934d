# Sourced by the test and demo commands: Debian packages and Python packages
# that building and testing need. Installs only what is missing.
export PIP_BREAK_SYSTEM_PACKAGES=1
apt_pkgs=(g++ libtbb-dev libeigen3-dev libicu-dev)
missing=()
for p in "${apt_pkgs[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing Debian packages: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi
python3 -m pip install -q --disable-pip-version-check \
  "scikit-build-core>=0.10" "cmake>=3.21" ninja "numpy>=1.23" "scipy>=1.10" "pytest>=7" ${QEL_EXTRA_PIP:-}
