#!/usr/bin/python3
"""Draws the product's pictures and writes them in the exact formats the module embeds.

Rerun from the repository root after changing a picture, then commit the results:

    /usr/bin/python3 resources/art/make_art.py

It needs Debian's python3-pil and fonts-dejavu-core (use /usr/bin/python3: another
python3 on PATH may lack PIL). The build never runs this script; it compiles the
committed files below.

Writes:
    resources/art/product.ico         the product mark: 16, 24, 32, 40, 48, 64, 128 and
                                      256 px, 32 bpp with alpha, each a DIB with an AND mask
    resources/art/product_legacy.ico  the library document picture: 16 and 32 px at 4 bpp
                                      (16-colour palette) and 8 bpp (256-colour palette)
    resources/art/splash.bmp          500 x 324, 8 bpp, 256-colour table, BI_RGB, bottom-up
    docs/images/product-icon.png      the product mark at every size, on light and dark
    docs/images/legacy-icon.png       the four legacy images, actual size and enlarged
    docs/images/splash.png            the splash picture exactly as stored (256 colours)

PIL cannot write icons in these formats (no 4/8-bpp DIB entries with AND masks, and it
stores 256-px entries as PNG), so the .ico and .bmp files are assembled here byte by byte.
"""

import math
import os
import struct
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
ART = os.path.join(ROOT, "resources", "art")
DOCS = os.path.join(ROOT, "docs", "images")
FONTS = "/usr/share/fonts/truetype/dejavu"

PRODUCT_NAME = "Orvantis"
VERSION_LABEL = "Version 38.0"
COPYRIGHT = "Copyright \u00a9 1982-2026 Corvalen Process Systems Ltd. All rights reserved."
MAKER = "CORVALEN PROCESS SYSTEMS"

MODERN_SIZES = (16, 24, 32, 40, 48, 64, 128, 256)

# Brand colours.
TEAL = (18, 178, 170)
INDIGO = (32, 58, 168)
AMBER = (255, 178, 44)
WHITE = (255, 255, 255)
NAVY = (9, 22, 58)

# The standard 16-colour palette, in the order 4-bpp Windows icons use.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


# ---------------------------------------------------------------------------------------
# Drawing helpers
# ---------------------------------------------------------------------------------------

def lerp(a, b, t):
    return a + (b - a) * t


def mix(c0, c1, t):
    return tuple(int(round(lerp(a, b, t))) for a, b in zip(c0, c1))


def linear_gradient(size, c0, c1, angle_deg):
    """An RGB image whose colour runs from c0 to c1 along the given direction."""
    w, h = size
    ang = math.radians(angle_deg)
    dx, dy = math.cos(ang), math.sin(ang)
    corners = [x * dx + y * dy for x in (0, w) for y in (0, h)]
    lo, hi = min(corners), max(corners)
    # Build the ramp once and let PIL rotate/resize it: fast and smooth.
    ramp = Image.new("RGB", (256, 1))
    ramp.putdata([mix(c0, c1, i / 255.0) for i in range(256)])
    out = Image.new("RGB", size)
    px = []
    for y in range(h):
        for x in range(w):
            t = (x * dx + y * dy - lo) / (hi - lo)
            px.append(ramp.getpixel((min(255, max(0, int(t * 255 + 0.5))), 0)))
    out.putdata(px)
    return out


def annulus_sector(cx, cy, r_in, r_out, a0, a1, steps=180):
    """Polygon of a ring segment from angle a0 to a1 (degrees, clockwise on screen)."""
    pts = []
    for i in range(steps + 1):
        a = math.radians(lerp(a0, a1, i / steps))
        pts.append((cx + r_out * math.cos(a), cy + r_out * math.sin(a)))
    for i in range(steps, -1, -1):
        a = math.radians(lerp(a0, a1, i / steps))
        pts.append((cx + r_in * math.cos(a), cy + r_in * math.sin(a)))
    return pts


def on_circle(cx, cy, r, a_deg):
    a = math.radians(a_deg)
    return (cx + r * math.cos(a), cy + r * math.sin(a))


def loop_glyph_shapes(cx, cy, radius, stroke, node_radius, arrow=1.0):
    """The product glyph: a recycle loop running clockwise, its arrowhead pointing back
    across a gap at an amber process node. Returns (ring polygons, node circle)."""
    gap_centre = -52.0          # upper right
    gap_half = 37.0
    tail = gap_centre + gap_half            # where the stream leaves the node
    head = gap_centre - gap_half + 360.0    # where the arrowhead sits
    r_in, r_out = radius - stroke / 2, radius + stroke / 2
    body = annulus_sector(cx, cy, r_in, r_out, tail, head)
    # Arrowhead: its base straddles the ring at `head`, its tip runs along the ring.
    half_base = stroke * 1.02 * arrow
    tip_len = stroke * 1.25 * arrow
    tip_angle = head + math.degrees(tip_len / radius)
    base_out = on_circle(cx, cy, radius + half_base, head)
    base_in = on_circle(cx, cy, radius - half_base, head)
    tip = on_circle(cx, cy, radius, tip_angle)
    arrow = [base_out, tip, base_in]
    node_centre = on_circle(cx, cy, radius, tail)
    node = (node_centre[0] - node_radius, node_centre[1] - node_radius,
            node_centre[0] + node_radius, node_centre[1] + node_radius)
    return [body, arrow], node


def supersample_factor(size):
    return max(4, min(16, 1024 // size))


# ---------------------------------------------------------------------------------------
# The product mark (icon groups 415, 417, 431, 434)
# ---------------------------------------------------------------------------------------

def draw_mark(size):
    """The product mark at `size` px, RGBA, drawn supersampled and reduced."""
    k = supersample_factor(size)
    n = size * k
    inset = round(size / 32.0) * k
    side = n - 2 * inset
    radius_corner = side * 0.225

    # Rounded square with a diagonal teal-to-indigo gradient.
    tile_mask = Image.new("L", (n, n), 0)
    ImageDraw.Draw(tile_mask).rounded_rectangle(
        (inset, inset, n - inset - 1, n - inset - 1), radius=radius_corner, fill=255)
    grad = linear_gradient((64, 64), TEAL, INDIGO, 58).resize((n, n), Image.BICUBIC)
    tile = Image.new("RGBA", (n, n), (0, 0, 0, 0))
    tile.paste(grad, (0, 0), tile_mask)

    # A soft light from the top on the larger sizes.
    if size >= 32:
        sheen = Image.new("L", (1, 64))
        sheen.putdata([int(max(0.0, 1.0 - i / 40.0) ** 2 * 46) for i in range(64)])
        sheen = sheen.resize((n, n), Image.BICUBIC)
        sheen = ImageChops.multiply(sheen, tile_mask)
        white = Image.new("RGBA", (n, n), WHITE + (0,))
        white.putalpha(sheen)
        tile = Image.alpha_composite(tile, white)

    cx = cy = n / 2.0
    # The small sizes are fitted to whole pixels (ring edges on pixel boundaries) and get a
    # heavier stroke, so that the loop stays open and crisp.
    fitted = {16: (5.0, 2.0, 2.0), 24: (7.0, 3.0, 2.7), 32: (9.0, 3.6, 3.3)}
    if size in fitted:
        radius, stroke, node_r = (v * k for v in fitted[size])
    else:
        radius, stroke, node_r = side * 0.275, side * 0.112, side * 0.1
    polys, node = loop_glyph_shapes(cx, cy, radius, stroke, node_r)

    glyph = Image.new("L", (n, n), 0)
    gd = ImageDraw.Draw(glyph)
    for p in polys:
        gd.polygon(p, fill=255)
    node_mask = Image.new("L", (n, n), 0)
    ImageDraw.Draw(node_mask).ellipse(node, fill=255)

    # Shadow under the glyph on the larger sizes, for depth.
    if size >= 40:
        shadow = ImageChops.lighter(glyph, node_mask)
        off = int(round(n * 0.018))
        shadow = shadow.transform(shadow.size, Image.AFFINE, (1, 0, -off, 0, 1, -off))
        shadow = shadow.filter(ImageFilter.GaussianBlur(n * 0.02))
        shadow = shadow.point(lambda v: v * 0.38)
        shadow = ImageChops.multiply(shadow, tile_mask)
        dark = Image.new("RGBA", (n, n), NAVY + (0,))
        dark.putalpha(shadow)
        tile = Image.alpha_composite(tile, dark)

    ring = Image.new("RGBA", (n, n), WHITE + (0,))
    ring.putalpha(glyph)
    tile = Image.alpha_composite(tile, ring)
    amber = Image.new("RGBA", (n, n), AMBER + (0,))
    amber.putalpha(node_mask)
    tile = Image.alpha_composite(tile, amber)

    return tile.resize((size, size), Image.LANCZOS if size >= 64 else Image.BOX)


# ---------------------------------------------------------------------------------------
# The legacy picture (icon group 413): a library document with the loop on it
# ---------------------------------------------------------------------------------------

def draw_legacy(size, colours):
    """The library document picture at 16 or 32 px as RGBA with binary alpha.
    `colours` selects 'vga' (the 16 standard colours) or 'rich' (brand colours)."""
    k = 16
    n = size * k
    if colours == "vga":
        paper, edge, fold, spine, ring_c, node_c, node_edge = \
            WHITE, (0, 0, 0), (192, 192, 192), (0, 0, 128), (0, 128, 128), (255, 255, 0), (128, 128, 0)
    else:
        paper, edge, fold, spine, ring_c, node_c, node_edge = \
            (250, 252, 255), (36, 44, 70), (196, 206, 224), INDIGO, (20, 138, 162), AMBER, (196, 118, 16)

    # Geometry in pixels of the target size.
    if size == 16:
        left, top, right, bottom, ear, spine_w = 1, 0, 14, 16, 4, 1
        cx, cy, radius, stroke, node_r = 8.2, 9.6, 3.2, 1.75, 1.5
    else:
        left, top, right, bottom, ear, spine_w = 5, 1, 27, 31, 7, 3
        cx, cy, radius, stroke, node_r = 17.0, 18.5, 5.2, 2.4, 2.1

    def p(x, y):
        return (x * k, y * k)

    # Each element is drawn as its own supersampled mask and reduced to the icon's size;
    # the 16-colour images keep only pixels at least half covered (crisp, as such icons
    # are drawn), the 256-colour ones blend the coverage (smooth edges inside the sheet).
    out = Image.new("RGBA", (size, size), (0, 0, 0, 0))

    def layer(colour, draw):
        mask = Image.new("L", (n, n), 0)
        draw(ImageDraw.Draw(mask))
        mask = mask.resize((size, size), Image.BOX)
        if colours == "vga":
            mask = mask.point(lambda a: 255 if a >= 128 else 0)
        paint = Image.new("RGBA", (size, size), colour + (255,))
        paint.putalpha(mask)
        out.alpha_composite(paint)

    sheet = [p(left, top), p(right - ear, top), p(right, top + ear), p(right, bottom), p(left, bottom)]
    inner = [p(left + 1, top + 1), p(right - ear - 0.4, top + 1), p(right - 1, top + ear + 0.4),
             p(right - 1, bottom - 1), p(left + 1, bottom - 1)]
    corner = [p(right - ear, top), p(right - ear, top + ear), p(right, top + ear)]
    fold_face = [p(right - ear + 1, top + 1.6), p(right - ear + 1, top + ear - 1), p(right - 1.6, top + ear - 1)]
    # The sheet with its folded corner, outlined one pixel wide.
    layer(edge, lambda d: d.polygon(sheet, fill=255))
    layer(paper, lambda d: d.polygon(inner, fill=255))
    layer(edge, lambda d: d.polygon(corner, fill=255))
    layer(fold, lambda d: d.polygon(fold_face, fill=255))
    # A binding spine along the left edge: the document is a library, a bound collection.
    layer(spine, lambda d: d.rectangle((left * k, top * k, (left + 1 + spine_w) * k - 1, bottom * k - 1),
                                       fill=255))

    # The loop, as on the product mark.
    polys, node = loop_glyph_shapes(cx * k, cy * k, radius * k, stroke * k, node_r * k, arrow=1.3)

    def ring(d):
        for poly in polys:
            d.polygon(poly, fill=255)
    layer(ring_c, ring)
    if size == 32:
        rim = [v - (k if i < 2 else -k) for i, v in enumerate(node)]
        layer(node_edge, lambda d: d.ellipse(rim, fill=255))
    layer(node_c, lambda d: d.ellipse(node, fill=255))

    # Binary transparency: an icon of this depth has only its AND mask.
    alpha = out.getchannel("A").point(lambda a: 255 if a >= 128 else 0)
    out = out.convert("RGB").convert("RGBA")
    out.putalpha(alpha)
    return out


def to_palette(rgba, palette, dither=False):
    """Index every opaque pixel into `palette` (list of RGB); transparent pixels get 0."""
    pal_img = Image.new("P", (1, 1))
    flat = [c for rgb in palette for c in rgb]
    flat += [0] * (768 - len(flat))
    pal_img.putpalette(flat)
    rgb = Image.new("RGB", rgba.size, (0, 0, 0))
    rgb.paste(rgba.convert("RGB"), (0, 0), rgba.getchannel("A"))
    q = rgb.quantize(palette=pal_img, dither=Image.FLOYDSTEINBERG if dither else Image.NONE)
    idx = list(q.getdata())
    alpha = list(rgba.getchannel("A").getdata())
    return [i if a else 0 for i, a in zip(idx, alpha)]


def adaptive_palette(images, count):
    """A palette of `count` colours for the opaque pixels of the given RGBA images;
    entry 0 is black, the colour of every transparent pixel."""
    pixels = []
    for im in images:
        for (r, g, b, a) in im.getdata():
            if a:
                pixels.append((r, g, b))
    strip = Image.new("RGB", (len(pixels), 1))
    strip.putdata(pixels)
    q = strip.quantize(colors=count - 1, method=Image.MEDIANCUT, dither=Image.NONE)
    pal = q.getpalette()[: 3 * (count - 1)]
    colours = [(0, 0, 0)] + [tuple(pal[i:i + 3]) for i in range(0, len(pal), 3)]
    colours += [(0, 0, 0)] * (count - len(colours))
    return colours


# ---------------------------------------------------------------------------------------
# Icon and bitmap writers (DIB entries with AND masks; BI_RGB bottom-up bitmaps)
# ---------------------------------------------------------------------------------------

def row_bytes(width, bpp):
    return ((width * bpp + 31) // 32) * 4


def and_mask(alpha, width, height):
    """1-bpp mask, bottom-up: bit set where the pixel is fully transparent."""
    stride = row_bytes(width, 1)
    out = bytearray()
    for y in range(height - 1, -1, -1):
        row = bytearray(stride)
        for x in range(width):
            if alpha[y * width + x] == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        out += row
    return bytes(out)


def bitmap_info_header(width, height, bpp, image_size, colours_used):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bpp, 0, image_size,
                       3780, 3780, colours_used, 0)


def dib_icon_32(rgba):
    w, h = rgba.size
    pixels = list(rgba.getdata())
    xor = bytearray()
    for y in range(h - 1, -1, -1):
        for x in range(w):
            r, g, b, a = pixels[y * w + x]
            if a == 0:
                r = g = b = 0
            xor += bytes((b, g, r, a))
    mask = and_mask([p[3] for p in pixels], w, h)
    header = bitmap_info_header(w, 2 * h, 32, len(xor) + len(mask), 0)
    return header + bytes(xor) + mask


def pack_indices(indices, width, height, bpp):
    stride = row_bytes(width, bpp)
    out = bytearray()
    for y in range(height - 1, -1, -1):
        row = bytearray(stride)
        for x in range(width):
            v = indices[y * width + x]
            if bpp == 8:
                row[x] = v
            else:
                row[x // 2] |= (v << 4) if x % 2 == 0 else v
        out += row
    return bytes(out)


def colour_table(palette):
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)


def dib_icon_indexed(rgba, bpp, palette):
    w, h = rgba.size
    assert len(palette) == 1 << bpp
    indices = to_palette(rgba, palette)
    xor = pack_indices(indices, w, h, bpp)
    mask = and_mask(list(rgba.getchannel("A").getdata()), w, h)
    header = bitmap_info_header(w, 2 * h, bpp, len(xor) + len(mask), 0)
    return header + colour_table(palette) + xor + mask


def write_ico(path, entries):
    """entries: list of (size, bpp, dib bytes), written in the given order."""
    out = bytearray(struct.pack("<HHH", 0, 1, len(entries)))
    offset = 6 + 16 * len(entries)
    for size, bpp, dib in entries:
        dim = 0 if size >= 256 else size
        colours = 16 if bpp == 4 else 0
        out += struct.pack("<BBBBHHII", dim, dim, colours, 0, 1, bpp, len(dib), offset)
        offset += len(dib)
    for _, _, dib in entries:
        out += dib
    with open(path, "wb") as f:
        f.write(out)


def write_bmp8(path, indices, palette, width, height):
    assert len(palette) == 256 and width % 4 == 0
    pixels = bytearray()
    for y in range(height - 1, -1, -1):
        pixels += bytes(indices[y * width:(y + 1) * width])
    info = bitmap_info_header(width, height, 8, len(pixels), 256)
    table = colour_table(palette)
    offset = 14 + len(info) + len(table)
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(file_header + info + table + pixels)


# ---------------------------------------------------------------------------------------
# The splash picture (bitmap 410)
# ---------------------------------------------------------------------------------------

def font(name, size):
    return ImageFont.truetype(os.path.join(FONTS, name), size)


def draw_splash():
    W, H = 500, 324
    k = 2
    n_w, n_h = W * k, H * k
    # Deep navy to teal, with a soft light behind the mark.
    img = linear_gradient((125, 81), (8, 20, 58), (12, 100, 126), -30).resize((n_w, n_h), Image.BICUBIC)
    img = img.convert("RGBA")
    glow = Image.new("L", (n_w, n_h), 0)
    gx, gy, gr = 100 * k, 136 * k, 120 * k
    ImageDraw.Draw(glow).ellipse((gx - gr, gy - gr, gx + gr, gy + gr), fill=62)
    glow = glow.filter(ImageFilter.GaussianBlur(60 * k))
    light = Image.new("RGBA", (n_w, n_h), (70, 210, 210, 0))
    light.putalpha(glow)
    img = Image.alpha_composite(img, light)

    # Stream lines sweeping across the lower part: a process flowsheet, abstracted.
    lines = Image.new("RGBA", (n_w, n_h), (0, 0, 0, 0))
    ld = ImageDraw.Draw(lines)
    for i in range(6):
        pts = []
        for x in range(-10, W + 11, 2):
            t = x / W
            y = 300 - 58 * t - (22 + 9 * i) * math.sin(math.pi * t) - 4 * i
            pts.append((x * k, y * k))
        ld.line(pts, fill=(140, 226, 232, 72 - 9 * i), width=k, joint="curve")
    fade = linear_gradient((64, 1), (0, 0, 0), (255, 255, 255), 0).convert("L").resize((n_w, n_h))
    lines.putalpha(ImageChops.multiply(lines.getchannel("A"), fade))
    img = Image.alpha_composite(img, lines)

    # The mark, with a soft shadow and a faint rim that lifts it off the background.
    mark_size = 112
    mark = draw_mark(256).resize((mark_size * k, mark_size * k), Image.LANCZOS)
    mx, my = 46 * k, 80 * k
    shadow = Image.new("RGBA", (n_w, n_h), (0, 0, 0, 0))
    sh = Image.new("RGBA", mark.size, (0, 6, 20, 0))
    sh.putalpha(mark.getchannel("A").point(lambda a: int(a * 0.6)))
    shadow.paste(sh, (mx + 2 * k, my + 7 * k))
    shadow = shadow.filter(ImageFilter.GaussianBlur(8 * k))
    img = Image.alpha_composite(img, shadow)
    img.alpha_composite(mark, (mx, my))

    d = ImageDraw.Draw(img)
    tx = 186 * k
    f_maker = font("DejaVuSans.ttf", 9 * k)
    d.text((tx + 2 * k, 90 * k), spaced(MAKER, 2), font=f_maker, fill=(142, 212, 218, 255))
    f_name = font("DejaVuSans-Bold.ttf", 52 * k)
    d.text((tx - 1 * k, 100 * k), PRODUCT_NAME, font=f_name, fill=WHITE + (255,))
    # An amber rule under the name, echoing the node of the mark.
    ry = 172 * k
    d.rounded_rectangle((tx + 2 * k, ry, tx + 2 * k + 40 * k, ry + 3 * k), radius=1.5 * k,
                        fill=AMBER + (255,))
    f_ver = font("DejaVuSans.ttf", 14 * k)
    d.text((tx + 2 * k, 183 * k), VERSION_LABEL, font=f_ver, fill=(212, 236, 240, 255))

    # Footer: a hairline and the copyright notice.
    d.line((28 * k, 292 * k, (W - 28) * k, 292 * k), fill=(255, 255, 255, 36), width=k // 2 or 1)
    f_copy = font("DejaVuSans.ttf", 9 * k)
    cw = d.textlength(COPYRIGHT, font=f_copy)
    d.text(((n_w - cw) / 2, 300 * k), COPYRIGHT, font=f_copy, fill=(176, 202, 214, 255))

    return img.convert("RGB").resize((W, H), Image.LANCZOS)


def spaced(text, spaces):
    return (" " * (spaces - 1)).join(text) if spaces > 1 else text


def quantize_256(rgb):
    """256 colours with error diffusion, so that the gradients stay smooth."""
    if _has_libimagequant():
        # libimagequant reads the pad byte of an RGB image as alpha: hand it a real one.
        source = rgb.convert("RGBA")
        source.putalpha(255)
        q = source.quantize(colors=256, method=Image.LIBIMAGEQUANT, dither=Image.FLOYDSTEINBERG)
    else:
        q = rgb.quantize(colors=256, method=Image.MEDIANCUT, kmeans=4, dither=Image.FLOYDSTEINBERG)
    pal = q.getpalette()[:768]
    pal += [0] * (768 - len(pal))
    palette = [tuple(pal[i:i + 3]) for i in range(0, 768, 3)]
    return list(q.getdata()), palette


def _has_libimagequant():
    from PIL import features
    return features.check("libimagequant")


# ---------------------------------------------------------------------------------------
# Previews for the documentation
# ---------------------------------------------------------------------------------------

def preview_modern(marks):
    pad = 20
    width = pad + sum(s + pad for s in MODERN_SIZES)
    row_h = 256 + 2 * pad
    sheet = Image.new("RGBA", (width, 2 * row_h), (255, 255, 255, 255))
    ImageDraw.Draw(sheet).rectangle((0, row_h, width, 2 * row_h), fill=(32, 34, 40, 255))
    for row in range(2):
        x = pad
        for s in MODERN_SIZES:
            y = row * row_h + pad + (256 - s)  # aligned on a common baseline
            sheet.alpha_composite(marks[s], (x, y))
            x += s + pad
    return sheet.convert("RGB")


def preview_legacy(images):
    """Each legacy image at actual size and enlarged four times."""
    pad = 16
    cells = [(im, 1) for im in images] + [(im, 4) for im in images]
    width = pad + sum(im.size[0] * z + pad for im, z in cells)
    height = 128 + 2 * pad
    sheet = Image.new("RGBA", (width, height), (236, 238, 242, 255))
    x = pad
    for im, z in cells:
        big = im.resize((im.size[0] * z, im.size[1] * z), Image.NEAREST)
        sheet.alpha_composite(big, (x, pad + 128 - big.size[1]))
        x += big.size[0] + pad
    return sheet.convert("RGB")


def decode_indexed(indices, palette, alpha, size):
    im = Image.new("RGBA", size)
    im.putdata([palette[i] + (a,) for i, a in zip(indices, alpha)])
    return im


def main():
    os.makedirs(DOCS, exist_ok=True)

    marks = {s: draw_mark(s) for s in MODERN_SIZES}
    write_ico(os.path.join(ART, "product.ico"),
              [(s, 32, dib_icon_32(marks[s])) for s in MODERN_SIZES])
    preview_modern(marks).save(os.path.join(DOCS, "product-icon.png"), optimize=True)

    vga16, vga32 = draw_legacy(16, "vga"), draw_legacy(32, "vga")
    rich16, rich32 = draw_legacy(16, "rich"), draw_legacy(32, "rich")
    pal256 = adaptive_palette([rich16, rich32], 256)
    legacy = [(16, 4, vga16, VGA16), (16, 8, rich16, pal256),
              (32, 4, vga32, VGA16), (32, 8, rich32, pal256)]
    write_ico(os.path.join(ART, "product_legacy.ico"),
              [(s, bpp, dib_icon_indexed(im, bpp, pal)) for s, bpp, im, pal in legacy])
    shown = [decode_indexed(to_palette(im, pal), pal, list(im.getchannel("A").getdata()), im.size)
             for _, _, im, pal in legacy]
    preview_legacy(shown).save(os.path.join(DOCS, "legacy-icon.png"), optimize=True)

    splash = draw_splash()
    indices, palette = quantize_256(splash)
    write_bmp8(os.path.join(ART, "splash.bmp"), indices, palette, *splash.size)
    stored = Image.new("RGB", splash.size)
    stored.putdata([palette[i] for i in indices])
    stored.save(os.path.join(DOCS, "splash.png"), optimize=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
