#!/bin/sh
# Makes the QEMU test's guest in CACHE: Debian's kernel, unpacked there once (never installed),
# and an initramfs of busybox, the USB serial modules, vr7 with its C library, and hold_port.
#   guest.sh CACHE VR7 HOLD_PORT     makes CACHE/vmlinuz and CACHE/initramfs
set -eu
cache=$1 vr7=$(realpath "$2") hold=$(realpath "$3") init=$(realpath "$(dirname "$0")/init")
mkdir -p "$cache" && cd "$cache"
if [ ! -d kernel ]; then
  image() { apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }'; }
  package=$(image)
  if [ -z "$package" ]; then  # no package lists yet
    if [ "$(id -u)" -eq 0 ]; then apt-get update -q; else sudo apt-get update -q; fi
    package=$(image)
  fi
  rm -f ./*.deb && apt-get download -q "$package"
  rm -rf unpacked && dpkg -x ./"$package"_*.deb unpacked && rm ./*.deb && mv unpacked kernel
fi
version=$(ls kernel/lib/modules)
cp kernel/boot/vmlinuz-"$version" vmlinuz
rm -rf root && mkdir -p root/bin root/dev root/proc root/sys root/lib/modules/"$version"
cp /bin/busybox root/bin/ && ln -s busybox root/bin/sh
cp "$init" root/init && cp "$vr7" "$hold" root/bin/
(cd kernel && cp --parents $(find lib/modules/"$version" -name usb-common.ko -o -name usbcore.ko \
  -o -name xhci-hcd.ko -o -name xhci-pci.ko -o -name usbserial.ko -o -name ftdi_sio.ko) \
  lib/modules/"$version"/modules.builtin lib/modules/"$version"/modules.order ../root)
busybox depmod -b root "$version"
for library in $(ldd "$vr7" | grep -o '/[^ ]*'); do cp -L --parents "$library" root; done
(cd root && find . | busybox cpio -o -H newc) > initramfs 2>/dev/null
