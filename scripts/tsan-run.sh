#!/usr/bin/env bash
# Runs a program built with ThreadSanitizer. Its runtime expects the address space laid out as
# without randomisation: on kernels with many random mmap bits it stops with "unexpected memory
# mapping". Randomisation is turned off for the program where the system lets us; where a sandbox
# forbids that, the program runs as it is.
arch="$(uname -m)"
if setarch "$arch" -R true 2>/dev/null; then
  exec setarch "$arch" -R "$@"
fi
exec "$@"
