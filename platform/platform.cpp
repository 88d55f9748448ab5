// The platform layer: FreeBSD structures and the kernel backends live beside this file.
