#!/usr/bin/env python3
"""Makes the placeholder firmware image and its closing bytes.

We do not have the maker's firmware. The placeholder is high-entropy bytes whose XOR is 0xEE and
whose 32-bit sum is 0x00741266, so that the closing bytes EE 00 74 12 66 relate to it as a box
checks them (XOR byte, then the sum big-endian). The bytes come from SHA-256 in counter mode over a
fixed seed, so every run writes the same file.

Writes vek-firmware.bin and vek-firmware.closing (the five closing bytes as hex text on one line)
beside this script, or into the folder given as the only argument.
"""

import hashlib
import pathlib
import sys

SIZE = 87916
XOR = 0xEE
SUM = 0x00741266
SEED = b"vek placeholder firmware"
# Bytes uniform over 0..TOP - 1 have a mean near SUM / SIZE (86.5), so little needs adjusting.
TOP = 174


class Stream:
    """Deterministic pseudo-random values from SHA-256 over the seed and a counter."""

    def __init__(self):
        self.counter = 0
        self.pool = b""

    def byte(self):
        if not self.pool:
            self.pool = hashlib.sha256(SEED + self.counter.to_bytes(8, "big")).digest()
            self.counter += 1
        value, self.pool = self.pool[0], self.pool[1:]
        return value

    def below(self, limit):
        """Uniform from 0 to limit - 1 by rejection (limit up to 2**24)."""
        span = 1 << 24
        while True:
            value = (self.byte() << 16) | (self.byte() << 8) | self.byte()
            if value < span - span % limit:
                return value % limit


def xor_of(data):
    result = 0
    for b in data:
        result ^= b
    return result


def make_image():
    rng = Stream()
    data = bytearray(rng.below(TOP) for _ in range(SIZE))

    # Reach the sum by single steps at random places, staying within 0..255.
    while sum(data) != SUM:
        step = 1 if sum(data) < SUM else -1
        for _ in range(abs(SUM - sum(data))):
            i = rng.below(SIZE)
            if 0 <= data[i] + step <= 255:
                data[i] += step

    # Reach the XOR by moving value between two bytes, which keeps the sum. The low bit of the
    # XOR follows the parity of the sum, so the difference left is always even.
    while xor_of(data) != XOR:
        want = xor_of(data) ^ XOR
        i, j = rng.below(SIZE), rng.below(SIZE)
        if i == j:
            continue
        total = data[i] + data[j]
        for a in range(max(0, total - 255), min(255, total) + 1):
            if data[i] ^ a ^ data[j] ^ (total - a) == want:
                data[i], data[j] = a, total - a
                break

    assert len(data) == SIZE and sum(data) == SUM and xor_of(data) == XOR
    return bytes(data)


def main():
    folder = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path(__file__).parent
    image = make_image()
    closing = bytes([XOR]) + SUM.to_bytes(4, "big")
    (folder / "vek-firmware.bin").write_bytes(image)
    (folder / "vek-firmware.closing").write_text(" ".join(f"{b:02X}" for b in closing) + "\n")


if __name__ == "__main__":
    main()
