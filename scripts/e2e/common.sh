# shellcheck shell=bash
# Shared by setup.sh and run-in-guest.sh: where the guest cache lives and how its freshness is
# judged. Sourced, never run.

# The modules the guest loads, by responder. Their dependencies are added when the cache is built.
QB_E2E_MODULES_COMMON=(virtio_pci 9pnet_virtio 9p overlay)
QB_E2E_MODULES_QEMU=(xhci_pci)
QB_E2E_MODULES_UMTP=(dummy_hcd libcomposite usb_f_fs configfs)

qb_e2e_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
qb_e2e_cache_root=${QUILLBARROW_E2E_CACHE:-${XDG_CACHE_HOME:-${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}/.cache}/quillbarrow-e2e}

# The stamp of what the initramfs and the locale shim are built from. A cache whose stamp differs
# from this one was built from other sources and must be rebuilt.
qb_e2e_guest_stamp() {
  local modules_list=$1
  {
    cat "$qb_e2e_dir/guest-init.sh" "$qb_e2e_dir/usb-reset.c" "$qb_e2e_dir/locale-shim.c" "$modules_list"
    sha256sum </bin/busybox
  } | sha256sum | cut -d' ' -f1
}
