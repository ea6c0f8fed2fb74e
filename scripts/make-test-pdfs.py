#!/usr/bin/env python3
"""Writes the PDF files the document tests render, into the folder given.

Every page is drawn with filled rectangles of distinct colours placed off
centre, so a page turned or mirrored by mistake does not look the same:
    portrait.pdf   612 x 792, one page
    landscape.pdf  792 x 612, one page
    rotate90.pdf   612 x 792 with /Rotate 90 (shown as a landscape page)
    cropbox.pdf    MediaBox 612 x 792, CropBox 100 100 400 500
    three.pdf      three 300 x 400 pages, a different colour each
    tall.pdf       1 x 14400 points
    encrypted.pdf  portrait.pdf encrypted by qpdf, user password "secret"
    owneronly.pdf  portrait.pdf encrypted by qpdf with an empty user password
    truncated.pdf  the first 60% of three.pdf
    notpdf.pdf     text that is no PDF
Usage: make-test-pdfs.py FOLDER
"""
import os
import subprocess
import sys


def rect(colour, x, y, w, h):
    r, g, b = colour
    return "%.3f %.3f %.3f rg %d %d %d %d re f\n" % (r, g, b, x, y, w, h)


def page_content(w, h, tint):
    # A background tint, a red block at the top left, a blue bar at the
    # bottom right and a green square left of centre, all off centre.
    s = rect(tint, 0, 0, w, h)
    s += rect((0.9, 0.1, 0.1), int(w * 0.05), int(h * 0.70), int(w * 0.40), int(h * 0.25))
    s += rect((0.1, 0.2, 0.9), int(w * 0.55), int(h * 0.05), int(w * 0.40), int(h * 0.15))
    s += rect((0.1, 0.7, 0.2), int(w * 0.10), int(h * 0.30), int(w * 0.20), int(w * 0.20))
    return s


def write_pdf(path, pages):
    """pages: list of dicts with w, h, content and optional rotate, crop."""
    objs = []
    kids = []
    page_objs = []
    # 1 catalog, 2 pages, then a page and its content stream per page.
    for i, p in enumerate(pages):
        page_no = 3 + 2 * i
        kids.append("%d 0 R" % page_no)
        extra = ""
        if p.get("rotate"):
            extra += " /Rotate %d" % p["rotate"]
        if p.get("crop"):
            extra += " /CropBox [%d %d %d %d]" % tuple(p["crop"])
        stream = p["content"].encode()
        page_objs.append(
            "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %d %d]%s /Contents %d 0 R >>"
            % (p["w"], p["h"], extra, page_no + 1))
        page_objs.append("<< /Length %d >>\nstream\n%s\nendstream" % (len(stream), p["content"]))
    objs.append("<< /Type /Catalog /Pages 2 0 R >>")
    objs.append("<< /Type /Pages /Kids [%s] /Count %d >>" % (" ".join(kids), len(pages)))
    objs.extend(page_objs)
    out = b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n"
    # Comment lines bring every file above the 1024 bytes the download
    # manager keeps at the least.
    out += b"% padding line of the test document\n" * 40
    offsets = []
    for i, o in enumerate(objs):
        offsets.append(len(out))
        out += ("%d 0 obj\n%s\nendobj\n" % (i + 1, o)).encode()
    xref = len(out)
    out += ("xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)).encode()
    for off in offsets:
        out += ("%010d 00000 n \n" % off).encode()
    out += ("trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)).encode()
    with open(path, "wb") as f:
        f.write(out)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    d = sys.argv[1]
    os.makedirs(d, exist_ok=True)
    j = lambda n: os.path.join(d, n)
    white = (1, 1, 1)
    write_pdf(j("portrait.pdf"), [dict(w=612, h=792, content=page_content(612, 792, (1, 1, 0.85)))])
    write_pdf(j("landscape.pdf"), [dict(w=792, h=612, content=page_content(792, 612, (0.85, 1, 1)))])
    write_pdf(j("rotate90.pdf"), [dict(w=612, h=792, rotate=90, content=page_content(612, 792, white))])
    write_pdf(j("cropbox.pdf"), [dict(w=612, h=792, crop=(100, 100, 400, 500),
                                      content=page_content(612, 792, (1, 0.9, 1)))])
    tints = [(1, 0.8, 0.8), (0.8, 1, 0.8), (0.8, 0.8, 1)]
    write_pdf(j("three.pdf"), [dict(w=300, h=400, content=page_content(300, 400, t)) for t in tints])
    write_pdf(j("tall.pdf"), [dict(w=1, h=14400, content=rect((0.2, 0.2, 0.2), 0, 0, 1, 7200))])
    for name, user in (("encrypted.pdf", "secret"), ("owneronly.pdf", "")):
        subprocess.run(["qpdf", "--encrypt", user, "owner", "256", "--", j("portrait.pdf"), j(name)], check=True)
    with open(j("three.pdf"), "rb") as f:
        data = f.read()
    with open(j("truncated.pdf"), "wb") as f:
        f.write(data[: len(data) * 6 // 10])
    with open(j("notpdf.pdf"), "w") as f:
        f.write("this is not a PDF file\n" * 100)


if __name__ == "__main__":
    main()
