#!/usr/bin/env python3
"""Draws the program's images: the two status lights and the two wordmarks compiled into
the program (resources/images/), and the desktop icon that the installation puts into the
hicolor theme (resources/icons/hicolor/: 48, 128 and 256 pixels and a scalable SVG). The
files are committed; run this only to redraw them.

Needs Python 3 with PIL and the DejaVu fonts (Debian: python3-pil fonts-dejavu-core):

    python3 resources/draw_images.py          # writes into resources/images/ and resources/icons/

Everything is drawn at four times the size and scaled down, which gives clean
anti-aliased edges without depending on PIL's own anti-aliasing.
"""
import math
import os
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

SCALE = 4
HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "images")
ICONS = os.path.join(HERE, "icons", "hicolor")
# The desktop id: the icon's theme name, the desktop entry's and the AppStream metainfo's name.
APP_ID = "org.kalvessa.Kalvessa100"
ICON_SIZES = (48, 128, 256)
FONT_DIRS = ["/usr/share/fonts/truetype/dejavu"]

NAVY = (22, 38, 66, 255)
ACCENT = (0, 150, 136, 255)
GREY = (96, 108, 124, 255)
# The wordmark's colours on a dark window: the same hues, light enough to read there.
LIGHT = (226, 234, 246, 255)
LIGHT_GREY = (170, 182, 198, 255)


def font(name, size):
    for d in FONT_DIRS:
        path = os.path.join(d, name)
        if os.path.exists(path):
            return ImageFont.truetype(path, size)
    sys.exit(f"font {name} not found; install fonts-dejavu-core")


def radial(size, centre, radius, inner, outer):
    """An RGBA image filled with a radial blend from inner (centre) to outer (radius)."""
    img = Image.new("RGBA", size)
    px = img.load()
    cx, cy = centre
    for y in range(size[1]):
        for x in range(size[0]):
            t = min(1.0, math.hypot(x - cx, y - cy) / radius)
            px[x, y] = tuple(int(inner[i] + (outer[i] - inner[i]) * t) for i in range(4))
    return img


def circle_mask(size, box):
    mask = Image.new("L", size, 0)
    ImageDraw.Draw(mask).ellipse(box, fill=255)
    return mask


def status_light_image(px, lit, dark, glow):
    """A glossy LED in a dark bezel, px x px pixels; drawn on a 50-unit design."""
    n = px * SCALE
    u = n / 50  # one unit of the design
    img = Image.new("RGBA", (n, n), (0, 0, 0, 0))

    # Soft halo behind the bezel, as a lit LED throws on its panel.
    halo = Image.new("RGBA", (n, n), glow[:3] + (0,))
    halo_mask = circle_mask((n, n), (6 * u, 6 * u, n - 6 * u, n - 6 * u))
    halo_mask = halo_mask.filter(ImageFilter.GaussianBlur(3 * u))
    halo.putalpha(ImageChops.multiply(halo_mask, Image.new("L", (n, n), glow[3])))
    img = Image.alpha_composite(img, halo)

    # Bezel: a dark metal ring lit from above.
    bezel_box = (5 * u, 5 * u, n - 5 * u, n - 5 * u)
    bezel = radial((n, n), (n / 2, n * 0.25), n * 0.55, (150, 155, 165, 255), (30, 32, 38, 255))
    img.paste(bezel, (0, 0), circle_mask((n, n), bezel_box))

    # Lens: the coloured dome, brightest slightly above the middle.
    lens_box = (9 * u, 9 * u, n - 9 * u, n - 9 * u)
    lens = radial((n, n), (n / 2, n * 0.42), n * 0.42, lit, dark)
    img.paste(lens, (0, 0), circle_mask((n, n), lens_box))

    # Specular highlight: a soft white ellipse on the upper part of the dome.
    hl = Image.new("RGBA", (n, n), (255, 255, 255, 0))
    hl_mask = Image.new("L", (n, n), 0)
    ImageDraw.Draw(hl_mask).ellipse((15 * u, 11 * u, n - 15 * u, 25 * u), fill=190)
    hl_mask = hl_mask.filter(ImageFilter.GaussianBlur(1.5 * u))
    hl.putalpha(hl_mask)
    img = Image.alpha_composite(img, hl)

    # A small sharp glint.
    glint = Image.new("L", (n, n), 0)
    ImageDraw.Draw(glint).ellipse((18 * u, 14 * u, 23 * u, 18 * u), fill=235)
    img = Image.alpha_composite(img, Image.merge("RGBA", (*Image.new("RGB", (n, n), "white").split(), glint)))

    return img.resize((px, px), Image.LANCZOS)


GREEN = dict(lit=(170, 255, 150, 255), dark=(10, 120, 30, 255), glow=(60, 220, 80, 150))
RED = dict(lit=(255, 160, 140, 255), dark=(150, 10, 10, 255), glow=(240, 50, 40, 150))


def status_light(path, colours):
    """The window's status light, 50 x 50 pixels."""
    status_light_image(50, **colours).save(path, optimize=True)


def tap_mark(draw, x, y, h):
    """The maker's mark: a line with a branch tapped off it, in a rounded square."""
    r = h * 0.22
    draw.rounded_rectangle((x, y, x + h, y + h), radius=r, fill=NAVY)
    w = max(2, int(h * 0.1))
    mid = y + h * 0.38
    draw.line((x + h * 0.16, mid, x + h * 0.84, mid), fill=(255, 255, 255, 255), width=w)
    draw.line((x + h * 0.5, mid, x + h * 0.5, y + h * 0.80), fill=ACCENT, width=w)
    d = h * 0.09
    draw.ellipse((x + h * 0.5 - d, mid - d, x + h * 0.5 + d, mid + d), fill=ACCENT)


def spaced_text(draw, x, y, text, fnt, fill, tracking):
    for ch in text:
        draw.text((x, y), ch, font=fnt, fill=fill)
        x += draw.textlength(ch, font=fnt) + tracking
    return x - tracking


def spaced_width(draw, text, fnt, tracking):
    return sum(draw.textlength(ch, font=fnt) for ch in text) + tracking * (len(text) - 1)


def wordmark(path, width, height, tagline, ink=NAVY, tag_ink=GREY):
    """The KALVESSA wordmark on a transparent background, fitted to width x height."""
    w, h = width * SCALE, height * SCALE
    img = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    draw = ImageDraw.Draw(img)
    pad = int(h * 0.08)
    mark = h - 2 * pad
    tap_mark(draw, pad, pad, mark)

    left = pad + mark + int(h * 0.22)
    room = w - left - pad
    word_h = int(h * (0.52 if tagline else 0.62))
    fnt = font("DejaVuSans-Bold.ttf", word_h)
    tracking = word_h * 0.12
    while spaced_width(draw, "KALVESSA", fnt, tracking) > room:
        word_h -= 1
        fnt = font("DejaVuSans-Bold.ttf", word_h)
        tracking = word_h * 0.12
    top, bottom = fnt.getbbox("K")[1], fnt.getbbox("K")[3]
    cap = bottom - top
    if tagline:
        tag_fnt = font("DejaVuSans.ttf", int(h * 0.18))
        tag_cap = tag_fnt.getbbox("N")[3] - tag_fnt.getbbox("N")[1]
        gap = int(h * 0.10)
        block = cap + gap + tag_cap
        y = (h - block) / 2 - top
        end = spaced_text(draw, left, y, "KALVESSA", fnt, ink, tracking)
        tag_w = spaced_width(draw, tagline, tag_fnt, tag_fnt.size * 0.32)
        tag_y = y + top + cap + gap - tag_fnt.getbbox("N")[1]
        spaced_text(draw, end - tag_w, tag_y, tagline, tag_fnt, tag_ink, tag_fnt.size * 0.32)
    else:
        y = (h - cap) / 2 - top
        spaced_text(draw, left, y, "KALVESSA", fnt, ink, tracking)
    img.resize((width, height), Image.LANCZOS).save(path, optimize=True)


def app_icon(path, size):
    """The desktop icon: the maker's mark with a green status light in its lower right."""
    n = size * SCALE
    img = Image.new("RGBA", (n, n), (0, 0, 0, 0))
    tap_mark(ImageDraw.Draw(img), n * 0.06, n * 0.06, n * 0.88)
    img = img.resize((size, size), Image.LANCZOS)
    led = status_light_image(int(size * 0.42), **GREEN)
    img.alpha_composite(led, (int(size * 0.56), int(size * 0.56)))
    img.save(path, optimize=True)


def svg_colour(c):
    return f"rgb({c[0]},{c[1]},{c[2]})"


def app_icon_svg(path):
    """The same icon as a scalable SVG on a 128-unit canvas, with the shapes and blends of
    tap_mark and status_light_image."""
    s = 128
    x = y = s * 0.06
    h = s * 0.88
    w = h * 0.1
    mid = y + h * 0.38
    d = h * 0.09
    led_at = s * 0.56
    led_scale = s * 0.42 / 50
    g = GREEN
    f = lambda v: f"{v:.2f}".rstrip("0").rstrip(".")
    text = f"""<?xml version="1.0" encoding="UTF-8"?>
<!-- Drawn by resources/draw_images.py; edit that and run it again rather than this file. -->
<svg xmlns="http://www.w3.org/2000/svg" width="{s}" height="{s}" viewBox="0 0 {s} {s}">
  <defs>
    <radialGradient id="bezel" gradientUnits="userSpaceOnUse" cx="25" cy="12.5" r="27.5">
      <stop offset="0" stop-color="rgb(150,155,165)"/>
      <stop offset="1" stop-color="rgb(30,32,38)"/>
    </radialGradient>
    <radialGradient id="lens" gradientUnits="userSpaceOnUse" cx="25" cy="21" r="21">
      <stop offset="0" stop-color="{svg_colour(g['lit'])}"/>
      <stop offset="1" stop-color="{svg_colour(g['dark'])}"/>
    </radialGradient>
    <filter id="halo" x="-50%" y="-50%" width="200%" height="200%">
      <feGaussianBlur stdDeviation="3"/>
    </filter>
    <filter id="highlight" x="-50%" y="-50%" width="200%" height="200%">
      <feGaussianBlur stdDeviation="1.5"/>
    </filter>
  </defs>
  <rect x="{f(x)}" y="{f(y)}" width="{f(h)}" height="{f(h)}" rx="{f(h * 0.22)}" fill="{svg_colour(NAVY)}"/>
  <line x1="{f(x + h * 0.16)}" y1="{f(mid)}" x2="{f(x + h * 0.84)}" y2="{f(mid)}" stroke="white" stroke-width="{f(w)}"/>
  <line x1="{f(x + h * 0.5)}" y1="{f(mid)}" x2="{f(x + h * 0.5)}" y2="{f(y + h * 0.8)}" stroke="{svg_colour(ACCENT)}" stroke-width="{f(w)}"/>
  <circle cx="{f(x + h * 0.5)}" cy="{f(mid)}" r="{f(d)}" fill="{svg_colour(ACCENT)}"/>
  <g transform="translate({f(led_at)} {f(led_at)}) scale({led_scale:.4f})">
    <circle cx="25" cy="25" r="19" fill="{svg_colour(g['glow'])}" fill-opacity="{g['glow'][3] / 255:.2f}" filter="url(#halo)"/>
    <circle cx="25" cy="25" r="20" fill="url(#bezel)"/>
    <circle cx="25" cy="25" r="16" fill="url(#lens)"/>
    <ellipse cx="25" cy="18" rx="10" ry="7" fill="white" fill-opacity="{190 / 255:.2f}" filter="url(#highlight)"/>
    <ellipse cx="20.5" cy="16" rx="2.5" ry="2" fill="white" fill-opacity="{235 / 255:.2f}"/>
  </g>
</svg>
"""
    with open(path, "w", encoding="utf-8") as out:
        out.write(text)


def main():
    os.makedirs(OUT, exist_ok=True)
    status_light(os.path.join(OUT, "green_small.png"), GREEN)
    status_light(os.path.join(OUT, "red_small.png"), RED)
    wordmark(os.path.join(OUT, "marvolen.png"), 175, 38, None)
    wordmark(os.path.join(OUT, "marvolen_light.png"), 175, 38, None, ink=LIGHT, tag_ink=LIGHT_GREY)
    wordmark(os.path.join(OUT, "halvetor.png"), 300, 66, "NETWORK TAPS")
    for size in ICON_SIZES:
        folder = os.path.join(ICONS, f"{size}x{size}", "apps")
        os.makedirs(folder, exist_ok=True)
        app_icon(os.path.join(folder, APP_ID + ".png"), size)
    folder = os.path.join(ICONS, "scalable", "apps")
    os.makedirs(folder, exist_ok=True)
    app_icon_svg(os.path.join(folder, APP_ID + ".svg"))


if __name__ == "__main__":
    main()
