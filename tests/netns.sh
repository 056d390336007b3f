#!/bin/bash
# Runs a command inside a private network namespace with loopback up, so port 5037
# is our own and never a real ADB server's.
exec unshare -n bash -c 'ip link set lo up && exec "$@"' netns "$@"
