#!/usr/bin/env python3
"""A box whose USB side never takes data: a FunctionFS function shaped as the cdc_acm driver
takes a device without a union descriptor (one interface with an interrupt endpoint, one with a
bulk pair), that sends the box's status every second on its bulk IN endpoint and never reads its
bulk OUT endpoint, so whatever the tool writes stays queued in the driver.

Usage: deaf-box.py FFS_DIR STATUS_FRAME_FILE  (FFS_DIR is the mounted functionfs; runs until
killed; prints "ready" once the function can be bound)."""
import os
import struct
import sys
import threading
import time

DESCRIPTORS_MAGIC_V2, STRINGS_MAGIC = 3, 2
HAS_FS_DESC, HAS_HS_DESC = 1, 2


def interface(number, endpoints, cls, subclass, protocol):
    return struct.pack("<9B", 9, 4, number, 0, endpoints, cls, subclass, protocol, 0)


def endpoint(address, attributes, max_packet, interval):
    return struct.pack("<BBBBHB", 7, 5, address, attributes, max_packet, interval)


def function_descriptors(bulk_packet, interval):
    return [interface(0, 1, 2, 2, 1), endpoint(0x81, 3, 16, interval),
            interface(1, 2, 10, 0, 0), endpoint(0x82, 2, bulk_packet, 0),
            endpoint(0x03, 2, bulk_packet, 0)]


def main():
    ffs, frame_file = sys.argv[1], sys.argv[2]
    status = open(frame_file, "rb").read()
    full_speed = function_descriptors(64, 10)
    high_speed = function_descriptors(512, 8)
    body = b"".join(full_speed + high_speed)
    header = struct.pack("<5I", DESCRIPTORS_MAGIC_V2, 20 + len(body), HAS_FS_DESC | HAS_HS_DESC,
                         len(full_speed), len(high_speed))
    ep0 = os.open(os.path.join(ffs, "ep0"), os.O_RDWR)
    os.write(ep0, header + body)
    os.write(ep0, struct.pack("<4I", STRINGS_MAGIC, 16, 0, 0))

    def answer_control_requests():
        # Events (bind, enable, setup) must be read; a class request is acknowledged by a
        # read or write of its data stage.
        while True:
            event = os.read(ep0, 12)
            if len(event) == 12 and event[8] == 4:  # FUNCTIONFS_SETUP
                request_type, length = event[0], struct.unpack_from("<H", event, 6)[0]
                if request_type & 0x80:
                    os.write(ep0, bytes(length))
                else:
                    os.read(ep0, length)

    threading.Thread(target=answer_control_requests, daemon=True).start()
    print("ready", flush=True)
    bulk_in = os.open(os.path.join(ffs, "ep2"), os.O_WRONLY)
    while True:
        try:
            os.write(bulk_in, status)
        except OSError:
            time.sleep(0.2)  # not bound yet, or unbound
            continue
        time.sleep(1)


main()
