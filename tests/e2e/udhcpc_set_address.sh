#!/bin/sh
# busybox udhcpc's script for the end-to-end tests: sets the address, mask and router it was
# given on the namespace's interface and touches nothing else (the stock script would rewrite
# the host's resolv.conf). udhcpc passes the event as the argument and the lease in the
# environment; when QNT_UDHCPC_LEASES names a file, each lease taken is added to it as one line
#   bound ip=A subnet=M router=R serverid=S lease=SECONDS
# so that a test can check what the device was told.
# shellcheck disable=SC2154
case "$1" in
  bound | renew)
    ip addr replace "$ip/$mask" dev "$interface"
    # The device namespace routes everything out of its one interface; the router given
    # takes that route over, as on a device.
    if [ -n "${router:-}" ]; then
      ip route replace default via "${router%% *}" dev "$interface"
    fi
    if [ -n "${QNT_UDHCPC_LEASES:-}" ]; then
      echo "$1 ip=$ip subnet=$subnet router=${router:-} serverid=${serverid:-} lease=${lease:-}" \
        >>"$QNT_UDHCPC_LEASES"
    fi
    ;;
esac
