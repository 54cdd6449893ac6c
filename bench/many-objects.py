#!/usr/bin/python3
# Writes a PDF of many small indirect objects and one large Flate content stream, with a plain
# classic cross-reference table: the shape that shows what the engine spends per parsed object
# and per kept decoded stream.
#
#   bench/many-objects.py [--object-stream] OUT [OBJECTS] [DECODED_MB]
#
# OBJECTS (default 65000): small objects (dictionaries, arrays, numbers, strings, names), half
# referenced from one big array in the catalogue, half from the pages' resources.
# DECODED_MB (default 13): the decoded size of page 1's content stream.
# --object-stream: the small objects go into one object stream instead (a cross-reference
# stream then lists them), so the file is small and one stream decodes to their text.
# Only the standard library; the output is the same for the same arguments.
import sys
import zlib


def main():
    args = sys.argv[1:]
    packed_objects = "--object-stream" in args
    args = [a for a in args if a != "--object-stream"]
    if len(args) < 1:
        sys.stderr.write("usage: many-objects.py [--object-stream] OUT [OBJECTS] [DECODED_MB]\n")
        return 2
    out = args[0]
    count = int(args[1]) if len(args) > 1 else 65000
    decoded_mb = float(args[2]) if len(args) > 2 else 13
    page_count = 100

    # Numbers: 1 catalogue, 2 page tree, 3 big array, 4 content stream, 5.. pages, then the
    # small objects.
    first_page = 5
    first_small = first_page + page_count
    bodies = {}

    seed = 12345

    def rand(n):
        nonlocal seed
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        return (seed >> 8) % n

    def small(i):
        kind = i % 5
        if kind == 0:
            return b"<</N %d/V %d.%d/S(i%d)>>" % (i, rand(100), rand(10), i)
        if kind == 1:
            return b"[%d %d/A%d]" % (rand(100), i, i % 50)
        if kind == 2:
            return b"%d" % rand(100000)
        if kind == 3:
            return b"(s%d)" % i
        # A small dictionary that refers to the previous object.
        return b"<</P %d 0 R/K[%d]>>" % (first_small + i - 1, rand(10))

    for i in range(count):
        bodies[first_small + i] = small(i)

    # Half of the small objects hang from the catalogue's array, the other half from the pages.
    half = count // 2
    refs = b" ".join(b"%d 0 R" % (first_small + i) for i in range(half))
    bodies[3] = b"[ " + refs + b" ]"
    per_page = (count - half + page_count - 1) // page_count
    kids = []
    for p in range(page_count):
        number = first_page + p
        kids.append(b"%d 0 R" % number)
        lo = half + p * per_page
        hi = min(count, lo + per_page)
        things = b" ".join(b"%d 0 R" % (first_small + i) for i in range(lo, hi))
        contents = b" /Contents 4 0 R" if p == 0 else b""
        bodies[number] = (b"<< /Type /Page /Parent 2 0 R /MediaBox [ 0 0 612 792 ]%s"
                          b" /Resources << /Things [ %s ] >> >>" % (contents, things))
    bodies[1] = b"<< /Type /Catalog /Pages 2 0 R /Things 3 0 R >>"
    bodies[2] = b"<< /Type /Pages /Count %d /Kids [ %s ] >>" % (page_count, b" ".join(kids))

    # Page 1's content: short path operators with a few varying coordinates, so it compresses
    # to a few hundred kilobytes.
    target = int(decoded_mb * 1024 * 1024)
    lines = []
    size = 0
    while size < target:
        line = b"%d %d m %d 400 l S\n" % (100 + rand(4), 200 + rand(4), 300)
        lines.append(line)
        size += len(line)
    content = b"".join(lines)[:target]
    packed = zlib.compress(content, 9)

    if packed_objects:
        write_with_object_stream(out, bodies, first_small, count, packed)
    else:
        write_classic(out, bodies, packed)
    return 0


def content_object(packed):
    return (b"4 0 obj\n<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(packed)) + packed + b"\nendstream\nendobj\n"


def write_classic(out, bodies, packed):
    with open(out, "wb") as f:
        f.write(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
        offsets = {}
        last = max(bodies)
        for number in range(1, last + 1):
            offsets[number] = f.tell()
            if number == 4:
                f.write(content_object(packed))
            else:
                f.write(b"%d 0 obj %s endobj\n" % (number, bodies[number]))
        xref = f.tell()
        f.write(b"xref\n0 %d\n0000000000 65535 f \n" % (last + 1))
        f.write(b"".join(b"%010d 00000 n \n" % offsets[n] for n in range(1, last + 1)))
        f.write(b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (last + 1, xref))


def write_with_object_stream(out, bodies, first_small, count, packed):
    stream_number = first_small + count
    xref_number = stream_number + 1
    header = []
    texts = []
    position = 0
    for i in range(count):
        text = bodies[first_small + i] + b"\n"
        header.append(b"%d %d" % (first_small + i, position))
        texts.append(text)
        position += len(text)
    first = b" ".join(header) + b"\n"
    objstm = zlib.compress(first + b"".join(texts), 9)
    with open(out, "wb") as f:
        f.write(b"%PDF-1.5\n%\xe2\xe3\xcf\xd3\n")
        offsets = {}
        for number in range(1, first_small):
            offsets[number] = f.tell()
            if number == 4:
                f.write(content_object(packed))
            else:
                f.write(b"%d 0 obj %s endobj\n" % (number, bodies[number]))
        offsets[stream_number] = f.tell()
        f.write(b"%d 0 obj\n<< /Type /ObjStm /N %d /First %d /Length %d /Filter /FlateDecode >>\nstream\n"
                % (stream_number, count, len(first), len(objstm)))
        f.write(objstm)
        f.write(b"\nendstream\nendobj\n")
        offsets[xref_number] = f.tell()
        # Rows of type, field 2 (4 bytes), field 3 (2 bytes).
        rows = [b"\x00" + (0).to_bytes(4, "big") + (65535).to_bytes(2, "big")]
        for number in range(1, xref_number + 1):
            if first_small <= number < stream_number:
                rows.append(b"\x02" + stream_number.to_bytes(4, "big") + (number - first_small).to_bytes(2, "big"))
            else:
                rows.append(b"\x01" + offsets[number].to_bytes(4, "big") + (0).to_bytes(2, "big"))
        table = zlib.compress(b"".join(rows), 9)
        f.write(b"%d 0 obj\n<< /Type /XRef /Size %d /W [ 1 4 2 ] /Root 1 0 R /Length %d /Filter /FlateDecode >>\nstream\n"
                % (xref_number, xref_number + 1, len(table)))
        f.write(table)
        f.write(b"\nendstream\nendobj\nstartxref\n%d\n%%%%EOF\n" % offsets[xref_number])


if __name__ == "__main__":
    sys.exit(main())
