#!/bin/sh
# dhclient's script for the end-to-end tests: sets the address it was given on the namespace's
# interface and touches nothing else (the stock script would rewrite the host's resolv.conf).
# dhclient passes the lease in the environment.
# shellcheck disable=SC2154
case "$reason" in
  BOUND | REBOOT | RENEW | REBIND)
    ip addr replace "$new_ip_address/$new_subnet_mask" dev "$interface"
    ;;
esac
