#!/usr/bin/env python3
"""Strict RIFF/RF64 WAVE check, independent of Keeptime's reader: riffcheck.py FILE.

Walks the chunks by their sizes alone (reading only headers and small bodies) and prints one JSON object:
chunks, fmt, ds64, bext and iXML stamps, cue points, labels, loops, and every fault found.
Exits 0 when well-formed, 1 when not, 2 on a usage error.
"""
import json
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree

UNKNOWN_SIZE = 0xFFFFFFFF
TAGS = ("TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO", "BWF_TIME_REFERENCE_LOW")


def check(path):
    errors = []
    report = {"file": path, "errors": errors, "chunks": [], "ds64": None, "fmt": None,
              "bext": None, "ixml": [], "dataOffset": None, "dataSize": None}
    with open(path, "rb") as f:
        f.seek(0, 2)
        length = f.tell()
        report["length"] = length

        def read(offset, count):
            f.seek(offset)
            return f.read(count)

        head = read(0, 12)
        if len(head) < 12 or head[:4] not in (b"RIFF", b"RF64") or head[8:12] != b"WAVE":
            errors.append("not a RIFF/RF64 WAVE file")
            return report
        form = head[:4].decode()
        riff_size = struct.unpack("<I", head[4:8])[0]
        report.update(form=form, riffSize=riff_size)

        offset = 12
        while offset < length:
            header = read(offset, 8)
            if len(header) < 8:
                errors.append(f"{length - offset} stray bytes at {offset}, too few for a chunk header")
                break
            cid = header[:4].decode("latin-1")
            size = struct.unpack("<I", header[4:8])[0]
            if not all(0x20 <= c < 0x7F for c in header[:4]):
                errors.append(f"chunk ID {header[:4]!r} at {offset} is not printable text")
                break
            if cid == "data" and size == UNKNOWN_SIZE:
                if report["ds64"] is not None:
                    size = report["ds64"]["dataSize"]
                else:  # a writer that could not seek back (a pipe): the audio runs to the end
                    errors.append(f"'data' at {offset} has no recorded size (0xFFFFFFFF)")
                    size = length - offset - 8
            body = offset + 8
            report["chunks"].append({"id": cid, "offset": offset, "size": size})
            if body + size > length:
                errors.append(f"'{cid}' at {offset} claims {size} bytes; the file ends {length - body} bytes after its header")
                if cid == "iXML":  # still say what the part that is there holds
                    inspect(cid, offset, read(body, length - body), report, [])
                break
            if size & 1:
                pad = read(body + size, 1)
                if len(pad) != 1:
                    errors.append(f"'{cid}' at {offset} has an odd size and no pad byte")
                elif pad != b"\0":
                    errors.append(f"'{cid}' at {offset}: pad byte is {pad[0]}, not 0")
            if cid == "data":
                if report["dataOffset"] is not None:
                    errors.append(f"a second 'data' chunk at {offset}")
                else:
                    report.update(dataOffset=offset, dataSize=size)
            elif size <= 1 << 20:
                inspect(cid, offset, read(body, size), report, errors)
            offset = body + size + (size & 1)

    if form == "RIFF" and riff_size != length - 8:
        errors.append(f"RIFF size {riff_size}, but the file holds {length - 8} bytes after it")
    if form == "RF64":
        if riff_size != UNKNOWN_SIZE:
            errors.append(f"RF64 size field is {riff_size}, not 0xFFFFFFFF")
        if not report["chunks"] or report["chunks"][0]["id"] != "ds64":
            errors.append("RF64 file whose first chunk is not 'ds64'")
    ds64, fmt = report["ds64"], report["fmt"]
    if ds64 is not None:
        if ds64["riffSize"] != length - 8:
            errors.append(f"ds64 RIFF size {ds64['riffSize']}, but the file holds {length - 8} bytes")
        if report["dataSize"] is not None and ds64["dataSize"] != report["dataSize"]:
            errors.append(f"ds64 data size {ds64['dataSize']}, data chunk holds {report['dataSize']}")
        if fmt and fmt["blockAlign"] and ds64["sampleCount"] * fmt["blockAlign"] != ds64["dataSize"]:
            errors.append(f"ds64 sample count {ds64['sampleCount']} does not match the data size")
    if fmt is None:
        errors.append("no 'fmt ' chunk")
    elif report["dataOffset"] is not None and fmt["offset"] > report["dataOffset"]:
        errors.append("'fmt ' stands after 'data'")
    if report["dataOffset"] is None:
        errors.append("no 'data' chunk")
    elif fmt and fmt["blockAlign"] and report["dataSize"] % fmt["blockAlign"]:
        errors.append(f"data size {report['dataSize']} is not whole frames of {fmt['blockAlign']} bytes")
    # Markers and loops must name frames the audio has, and a label a point that is there.
    known = fmt and fmt["blockAlign"] and report["dataSize"] is not None
    frames = report["dataSize"] // fmt["blockAlign"] if known else float("inf")
    ids = {point["id"] for chunk in report["chunks"] for point in chunk.get("points", [])}
    for chunk in report["chunks"]:
        for point in chunk.get("points", []):
            if point["fccChunk"] == "data" and point["sampleOffset"] > frames:
                errors.append(f"cue point {point['id']} at frame {point['sampleOffset']}, past the {frames} frames")
        for label in chunk.get("adtl", []):
            if label["cueId"] not in ids:
                errors.append(f"'{label['kind']}' for cue point {label['cueId']}, which the file does not have")
        for loop in chunk.get("loops", []):
            if not loop["start"] <= loop["end"] < frames:
                errors.append(f"smpl loop {loop['id']}, {loop['start']} to {loop['end']}, not inside {frames} frames")
    return report


def inspect(cid, offset, body, report, errors):
    chunk = report["chunks"][-1]
    if cid == "cue " and len(body) >= 4:
        count = min(struct.unpack("<I", body[:4])[0], (len(body) - 4) // 24)
        if 4 + 24 * count != len(body):
            errors.append(f"'cue ' at {offset} is {len(body)} bytes, not 4 + 24 per point")
        chunk["points"] = [{"id": cue, "position": position, "fccChunk": fcc.decode("latin-1"), "sampleOffset": at}
                           for cue, position, fcc, _, _, at in struct.iter_unpack("<II4sIII", body[4:4 + 24 * count])]
    elif cid == "smpl" and len(body) >= 36:
        count = min(struct.unpack("<I", body[28:32])[0], (len(body) - 36) // 24)
        if count != struct.unpack("<I", body[28:32])[0]:
            errors.append(f"'smpl' at {offset} is too short for its loops")
        chunk["loops"] = [{"id": cue, "start": start, "end": end}
                          for cue, _, start, end, _, _ in struct.iter_unpack("<6I", body[36:36 + 24 * count])]
    elif cid in ("LIST", "list") and body[:4] == b"adtl":
        chunk["adtl"], at = [], 4
        while at + 12 <= len(body):  # labl and note: cue ID, text; ltxt: cue ID, 16 bytes, text
            kind, size = body[at:at + 4].decode("latin-1"), struct.unpack("<I", body[at + 4:at + 8])[0]
            if size < 4 or at + 8 + size > len(body):
                errors.append(f"'{kind}' at {offset + 8 + at} runs past its LIST")
                break
            text = body[at + (28 if kind == "ltxt" else 12):at + 8 + size].rstrip(b"\0").decode("latin-1")
            chunk["adtl"].append({"kind": kind, "cueId": struct.unpack("<I", body[at + 8:at + 12])[0], "text": text})
            at += 8 + size + (size & 1)
    elif cid == "fmt ":
        if report["fmt"] is not None:
            errors.append(f"a second 'fmt ' chunk at {offset}")
            return
        if len(body) < 16:
            errors.append(f"'fmt ' at {offset} is {len(body)} bytes, fewer than 16")
            return
        tag, channels, rate, byte_rate, align, bits = struct.unpack("<HHIIHH", body[:16])
        report["fmt"] = {"offset": offset, "formatTag": tag, "channels": channels, "sampleRate": rate,
                         "blockAlign": align, "bitsPerSample": bits}
        if align == 0 or rate == 0:
            errors.append("'fmt ' with block align or sample rate 0")
        elif tag in (1, 0xFFFE) and (align != channels * ((bits + 7) // 8) or byte_rate != rate * align):
            errors.append(f"'fmt ' sizes disagree: {channels} ch, {bits} bit, align {align}, {byte_rate} B/s")
    elif cid == "ds64":
        if len(body) < 28:
            errors.append(f"'ds64' at {offset} is {len(body)} bytes, fewer than 28")
            return
        riff, data, samples = struct.unpack("<qqq", body[:24])
        report["ds64"] = {"offset": offset, "riffSize": riff, "dataSize": data, "sampleCount": samples}
    elif cid == "bext" and report["bext"] is None:
        if len(body) < 602:
            errors.append(f"'bext' at {offset} is {len(body)} bytes, fewer than 602")
            return
        report["bext"] = {"offset": offset, "timeReference": struct.unpack("<Q", body[338:346])[0]}
    elif cid == "iXML":
        text = body.rstrip(b"\0")
        try:
            ElementTree.fromstring(text)
        except ElementTree.ParseError as error:
            errors.append(f"'iXML' at {offset} is not well-formed XML: {error}")
        found = {"offset": offset}
        for tag in TAGS:
            match = re.search(rb"<" + tag.encode() + rb">([^<]*)</" + tag.encode() + rb">", text)
            if match:
                found[tag] = match.group(1).decode("utf-8", "replace")
        report["ixml"].append(found)


def main(argv):
    if len(argv) != 2 or argv[1].startswith("-"):
        print("usage: riffcheck.py FILE   (prints a JSON report; exit 1 when the file is malformed)",
              file=sys.stderr)
        return 2
    try:
        report = check(argv[1])
    except OSError as error:
        print(f"riffcheck.py: {argv[1]}: {error.strerror}", file=sys.stderr)
        return 2
    print(json.dumps(report, indent=1))
    return 1 if report["errors"] else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
