#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/<target>/: real units of the controller link, as the
tool and the controller exchange them, in the record format of fuzz_input.h (one length byte,
then that many bytes; each record is one piece that a read gets)."""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def le16(v):
    return bytes([v & 0xFF, (v >> 8) & 0xFF])


def frame(number, last, payload):
    head = bytearray(b"\xAA\xAA" + le16(len(payload)) + le16(number) + b"\x00" + bytes([last]))
    whole = head + payload
    head[6] = (sum(whole) - whole[6]) & 0xFF
    return bytes(head) + payload


def ack(code, number):
    return b"\x55\x55" + le16(code) + le16(number)


def records(*pieces):
    out = bytearray()
    for p in pieces:
        while len(p) > 255:
            out += bytes([255]) + p[:255]
            p = p[255:]
        out += bytes([len(p)]) + p
    return bytes(out)


def units(*units_):
    """Each unit as one record, split in two where it arrives as header and payload."""
    pieces = []
    for u in units_:
        if u[:2] == b"\xAA\xAA":
            pieces += [u[:8], u[8:]]
        else:
            pieces.append(u)
    return records(*pieces)


def name_area(name):
    area = name + b"\x00"
    if len(name) % 2 == 0:
        area += b"\xCD"
    return area


def command_request(text):
    return frame(1, 1, b"\x92\x00\x00\x00\x00" + text + b"\x00")


def read_request(name):
    area = name_area(name)
    return frame(1, 1, b"\x31\x00" + bytes([len(area)]) + b"\x00" + area)


def write_request(name, data):
    area = name_area(name)
    params = le16(0x2F) + le16(len(data)) + le16(len(area))
    return frame(1, 1, params + area + data)


NEXT_SEGMENT = bytes.fromhex("AAAA010001008901") + b"\x32"
PLCINFO = bytes.fromhex("AA AA 0D 00 01 00 60 01 92 00 00 00 00 50 4C 43 49 6E 66 6F 00")
assert PLCINFO == command_request(b"PLCInfo")

info_reply = frame(1, 1, b"\x00" * 7 + b"PLC model 7\r\nfirmware 1.2\r\n\x00")
dir_first = frame(1, 0, b"\x00" * 7 + b"a.txt\r\n" + b"x" * 114)
dir_last = frame(2, 1, b"prog.txt\r\n\x00")
segment_header = b"\x32\x01\x00\x00" + le16(5)
one_segment = frame(1, 1, segment_header + b"hello" + bytes([sum(b"hello") & 0xFF]))
bad = bytearray(info_reply)
bad[6] ^= 0x55
end_marker = frame(1, 1, b"\x00\x00")

REQUEST_ACK = ack(10, 1)
RECEIVE = {
    "info_reply": units(REQUEST_ACK, info_reply),
    "directory_two_frames": units(REQUEST_ACK, dir_first, dir_last),
    "header_in_pieces": records(REQUEST_ACK, info_reply[:3], info_reply[3:8], info_reply[8:]),
    "bad_checksum_then_repeat": units(REQUEST_ACK, bytes(bad), info_reply),
    "code20_where_a_header_belongs": units(REQUEST_ACK, ack(20, 1), info_reply),
    "end_marker": units(REQUEST_ACK, end_marker),
    "download_segment": units(REQUEST_ACK, one_segment),
    "silence": records(REQUEST_ACK, b""),
}

SESSION = {
    # flags byte: bit 0 serial line, bit 1 a fault's text in the first record
    "tcp_plcinfo": b"\x00" + records(PLCINFO, ack(10, 0), ack(10, 1), ack(10, 2), ack(10, 3)),
    "serial_filedir": b"\x01" + records(command_request(b"filedir"), ack(10, 0), ack(10, 1),
                                        ack(10, 2)),
    "tcp_delete": b"\x00" + records(command_request(b"filedelete a.txt"), ack(10, 0),
                                    ack(10, 1), ack(10, 2)),
    "tcp_read_small": b"\x00" + records(read_request(b"a.txt"), ack(10, 0), ack(10, 1),
                                        ack(10, 2)),
    "tcp_read_segments": b"\x00" + records(read_request(b"prog.txt"), ack(10, 0),
                                           *[ack(10, n) for n in range(1, 37)], NEXT_SEGMENT,
                                           ack(10, 0), *[ack(10, n) for n in range(1, 37)]),
    "serial_write_small": b"\x01" + records(write_request(b"new.txt", b"hi\r\n"), ack(10, 0),
                                            ack(10, 1)),
    "tcp_write_small": b"\x00" + records(write_request(b"new.txt", b"hi\r\n"), ack(10, 0),
                                         ack(10, 1)),
    "tcp_read_rejected_request": b"\x02" + records(b"reject-request", read_request(b"a.txt"),
                                                   read_request(b"a.txt"), ack(10, 0),
                                                   ack(10, 1)),
    "serial_bad_checksum_reply": b"\x03" + records(b"bad-checksum,op=info", PLCINFO, ack(10, 0),
                                                   ack(20, 1), ack(10, 1), ack(10, 2)),
    "serial_two_exchanges": b"\x01" + records(PLCINFO, ack(10, 0), ack(10, 1),
                                              command_request(b"filedir"), ack(10, 0),
                                              ack(10, 1)),
}

UNITS = {
    "plcinfo_request": records(PLCINFO),
    "request_in_pieces": records(PLCINFO[:2], PLCINFO[2:9], PLCINFO[9:]),
    "acks": records(ack(10, 0), ack(20, 1), ack(10, 1)),
    "long_name_read": records(read_request(b"n" * 200)),
    "stops_midway": records(PLCINFO[:10], b""),
}

TOOL_ARGS = {
    "upload_tcp": b"\x00".join([b"/TCP10.0.6.10", b"/FLDRC:\\Data", b"/up", b"prog.txt"]),
    "download_com": b"\x00".join([b"/COM2", b'/FLDR"C:\\Data files\\"', b"/dn", b"a.txt",
                                  b"sub\\b.txt"]),
    "queries": b"\x00".join([b"/inf", b"/dir", b"/TCP 127.0.0.1"]),
    "bad_com": b"\x00".join([b"/COMx", b"/del", b"a.txt"]),
    "help": b"/?",
    "cyrillic_name": b"\x00".join([b"/TCP1.2.3.4", b"/up", "файл.txt".encode("cp1251")]),
}

DIALECT_ARGS = {
    "get": b"\x00".join([b"/TCP10.0.6.10", b"/FLDRC:\\Data", b"/get", b"prog.txt"]),
    "put_com": b"\x00".join([b"/COM3", b'/FLDR"C:\\"', b"/up", b"a.txt", b"b.txt"]),
    "dir": b"\x00".join([b"/TCP10.0.6.10", b"/dir"]),
    "info_com": b"\x00".join([b"/COM1", b"/info"]),
    "del": b"\x00".join([b"/TCP10.0.6.10", b"/del", b"a.txt"]),
    "two_links": b"\x00".join([b"/TCP10.0.6.10", b"/COM1", b"/dir"]),
}

FRONTEND = {
    "tool_command_line": b'"/opt/tollmark/cabrix" /TCP10.0.6.10 /FLDR"C:\\Data\\\\" /get "prog.txt"',
    "folder_root": b'cabrix_old /COM1 /FLDR"C:\\\\" /up "a b.txt"',
    "escapes": b'p a\\\\\\"b "c""d" \\\\"e f"',
    "output_lines": b"line one\r\nline two\n\rthree\r\r\n\x00after zero",
    "directory_output": "a.txt\r\n\r\nфайл.txt\r\n\r\n".encode("cp1251"),
}

TARGETS = {
    "fuzz_receive_frame": RECEIVE,
    "fuzz_sim_session": SESSION,
    "fuzz_sim_units": UNITS,
    "fuzz_tool_args": TOOL_ARGS,
    "fuzz_dialect_args": DIALECT_ARGS,
    "fuzz_frontend_split": FRONTEND,
}


def main():
    root = os.path.join(HERE, "corpus")
    for target, seeds in TARGETS.items():
        folder = os.path.join(root, target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
