# Sourced by the build and test scripts: `need PACKAGE...` installs those of
# the Debian packages that are missing, as root or through sudo.
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

need() {
    local missing=() package
    for package in "$@"; do
        dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    echo "Installing ${missing[*]}"
    # One refresh of the package lists per run, however many scripts ask.
    if [ -z "${ULVTOOL_APT_UPDATED:-}" ]; then
        $sudo apt-get update -qq
        export ULVTOOL_APT_UPDATED=1
    fi
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# What the build itself needs: the compiler and CMake; stb_image (BMP to PNG)
# and CLI11 (ulvbatch's options); tinygltf and nlohmann-json (the glTF
# reader). All headers only.
build_packages=(cmake make g++ libstb-dev libcli11-dev libtinygltf-dev nlohmann-json3-dev)
