#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/: valid frames, replies,
configuration blocks, version records and reply bodies. Run again after changing it; the files
are small and kept in the repository."""
import pathlib
import shutil

ROOT = pathlib.Path(__file__).resolve().parent / "corpus"
BOX_TO_TOOL = 0x12
CONFIG_BASE = 0x0801F000  # the receive target's base address


def frame(kind, payload=b"", address=BOX_TO_TOOL):
    head = bytes([0xBC, address, kind]) + len(payload).to_bytes(2, "big") + payload
    return head + (sum(head) & 0xFFFFFF).to_bytes(3, "big")


def status(mode=1, version=(3, 1, 2, 36), base=CONFIG_BASE):
    ids = bytes.fromhex("0011223344556677 8899AABB".replace(" ", ""))
    text1 = b"VEK-BOOT".ljust(12, b"\0")
    text2 = b"REV B".ljust(12, b"\0")
    return bytes([mode]) + ids + text1 + text2 + bytes(version) + base.to_bytes(4, "big")


def ack(n):
    return frame(2, n.to_bytes(2, "big"))


def config_block():
    """A configuration record as the box stores it: default values, a right checksum."""
    b = bytearray(2032)
    b[0:4] = bytes([0xCA, 0xFE, 0xF0, 0xDA])
    b[4:6] = (30).to_bytes(2, "big")
    b[6:8] = bytes([1, 2])
    b[8:10] = (30).to_bytes(2, "big")     # ping
    b[10:12] = (1152).to_bytes(2, "big")  # RS232-A in hundreds
    b[12:14] = (96).to_bytes(2, "big")    # RS232-B
    b[14], b[15] = 80, 20                 # ACP, ACN
    b[16], b[17] = 11, 10
    for at, value in ((18, 111), (21, 110), (24, 101), (28, 100), (31, 11)):
        b[at] = value
    b[19], b[20], b[22], b[23] = 100, 5, 12, 3
    b[25:27] = (3000).to_bytes(2, "big")
    b[27], b[29], b[30], b[32] = 10, 4, 120, 2
    b[33:35] = (500).to_bytes(2, "big")
    b[35] = 30
    b[36:39] = (sum(b[:36]) & 0xFFFFFF).to_bytes(3, "big")
    return bytes(b)


def config_reply(offset, data, base=CONFIG_BASE):
    payload = (base + offset).to_bytes(4, "big") + len(data).to_bytes(2, "big") + data
    return frame(7, payload)


def record(major, minor, letter):
    version = f"{major:03}.{minor:03}.{letter:03}"
    return f"#*$({version}@@{version})$*#"


def write(target, files):
    folder = ROOT / target
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    for name, data in files.items():
        (folder / name).write_bytes(data if isinstance(data, bytes) else data.encode("latin-1"))


block = config_block()
frames = {
    "status-bootloader": frame(4, status()),
    "status-old-firmware": frame(4, status(version=(3, 1, 2, 20))),
    "status-discontinued": frame(4, status(version=(1, 0, 1, 0))),
    "status-operating": frame(4, status(mode=0)),
    "ack-1": ack(1),
    "ack-1833": ack(1833),
    "nack": frame(3, b"\x00\x01"),
    "operating-mode": frame(11),
    "config-reply-first": config_reply(0, block[:500]),
    "config-reply-last": config_reply(2000, block[2000:2032]),
    "ack-trailing": ack(2) + b"\x00",
    "short": bytes([0xBC, 0x12, 2]),
}
write("fuzz_decode_packet", frames)

# Receive: flags, selector, then the event's bytes.
receive = {
    "idle-status": bytes([0, 0, 0]) + frames["status-bootloader"],
    "idle-status-old": bytes([0, 0, 0]) + frames["status-old-firmware"],
    "idle-status-discontinued": bytes([0, 0, 0]) + frames["status-discontinued"],
    "idle-operating": bytes([0, 0, 0]) + frames["status-operating"],
    "idle-operating-mode": bytes([8, 0, 0]) + frames["operating-mode"],
    "firmware-ack-1": bytes([9, 0, 0]) + ack(1),
    "firmware-ack-5": bytes([9, 0, 4]) + ack(5),
    "firmware-ack-last": bytes([9, 0x07, 0x28]) + ack(1833),
    "firmware-nack": bytes([9, 0, 7]) + frames["nack"],
    "firmware-short": bytes([9, 0, 7]) + frames["short"],
    "config-write-ack-43": bytes([10, 0, 42]) + ack(43),
    "config-write-ack-2": bytes([10, 0, 1]) + ack(2),
    "config-read-first": bytes([11, 0, 0]) + config_reply(0, block[:500]),
    "config-read-last": bytes([15, 0, 4]) + config_reply(2000, block[2000:2032]),
    "config-read-last-invalid": bytes([11, 0, 4]) + config_reply(2000, bytes(32)),
    "config-read-trailing": bytes([11, 0, 1]) + config_reply(500, block[500:1000]) + b"\xBC",
}
write("fuzz_receive", receive)

write("fuzz_config_read", {
    "reply-first": b"\x00" + CONFIG_BASE.to_bytes(4, "big") + config_reply(0, block[:500])[5:-3],
    "reply-last": b"\x00" + CONFIG_BASE.to_bytes(4, "big")
    + config_reply(2000, block[2000:2032])[5:-3],
    "reply-zero-base": b"\x00" + bytes(4) + config_reply(1500, b"\x01\x02\x03", base=0)[5:-3],
    "block": b"\x01" + block[:64],
    "block-repaired": b"\x03" + block[:36],
})

write("fuzz_version_record", {
    "current": "<P>" + record(2, 36, ord("D")) + "</P>",
    "newer": record(3, 0, ord("A")) + "\r\n",
    "wide-letter": "x" * 10 + record(2, 37, 999),
    "bare": record(0, 0, 0) + " ",
})

DEFAULT_PROFILE = (
    '{"format": 1, "name": "default", "ping": 180, "rs232_a": 115200, "rs232_b": 19200, '
    '"acceleration": {"limit": 11, "event": true, "buzzer": true}, '
    '"deceleration": {"limit": 11, "event": true, "buzzer": true}, '
    + ", ".join(
        f'"{group}": {{{values}, "event": {{"entry": true, "exit": false}}, '
        '"buzzer": {"entry": true, "exit": false, "during": false}}'
        for group, values in [
            ("speed", '"limit": 120, "validation_time": 5'),
            ("rain_speed", '"limit": 90, "validation_time": 5'),
            ("engine_speed", '"limit": 4500, "validation_time": 5'),
            ("idling", '"time_limit": 6, "exception_time": 7'),
            ("coasting", '"min_speed": 40, "max_engine_speed": 900, "validation_time": 5'),
        ]
    )
    + "}"
)
write("fuzz_profile", {
    "default.json": DEFAULT_PROFILE,
    "from-a-box.json": DEFAULT_PROFILE.replace(
        '"name": "default"',
        '"source": {"identifier": "0011A2B3-44C5D6E7-8899FA0B", "version": "3.0.2.36", '
        '"time": "2026-12-09T10:00:00Z"}'),
    "format-only.json": '{"format": 1}',
})

write("fuzz_web_body", {
    "html": "text/html; charset=utf-8\n<html><head><title>v</title></head><body><P>"
    + record(2, 36, ord("D")) + "</P></body></html>",
    "html-open-body": "text/html\n<HTML><BODY bgcolor=white>" + record(2, 37, ord("A")),
    "plain": "text/plain; charset=iso-8859-1\n" + record(2, 36, ord("E")) + "\r\n",
    "no-type": record(2, 36, ord("D")),
    "xhtml": "application/xhtml+xml\n<html xmlns=\"http://www.w3.org/1999/xhtml\"><body>"
    + record(1, 2, 3) + "</body></html>",
    "html-no-body": "text/html\n<html><head></head></html>",
})
