#!/usr/bin/env python3
"""Draws Zantry's images (ImageMagick `convert`) and synthesises its two
sounds (standard library only). Run from anywhere; writes next to itself,
and the desktop icons into packaging/icons ("generate.py icons" draws only
those). The outputs are committed, so a build never needs this script."""

import math
import os
import struct
import subprocess
import sys
import tempfile
import wave

HERE = os.path.dirname(os.path.abspath(__file__))
IMAGES = os.path.join(HERE, "images")
SOUNDS = os.path.join(HERE, "sounds")
FONT_DIR = "/usr/share/fonts/truetype/roboto/unhinted/RobotoTTF"

BLUE = "#004993"
BRIGHT = "#0074e9"
DEEP = "#002d5c"


def convert(*args):
    subprocess.run(["convert", *args], check=True)


def hexagon(cx, cy, r):
    pts = []
    for i in range(6):
        a = math.radians(-90 + 60 * i)
        pts.append(f"{cx + r * math.cos(a):.1f},{cy + r * math.sin(a):.1f}")
    return " ".join(pts)


def z_shape(cx, cy, half, w):
    """The Z as one filled outline: top bar, diagonal, bottom bar."""
    l, r, t, b = cx - half, cx + half, cy - half, cy + half
    d = w * 1.45  # the diagonal's horizontal width, so it looks as thick as the bars
    pts = [(l, t), (r, t), (r, t + w), (l + d, b - w), (r, b - w), (r, b), (l, b), (l, b - w), (r - d, t + w),
           (l, t + w)]
    return " ".join(f"{x:.1f},{y:.1f}" for x, y in pts)


def mark(out, size, body_a, body_b, edge, letter, scale=4):
    """The hexagon with the Z, drawn large and scaled down for smooth edges."""
    big = size * scale
    c = big / 2
    with tempfile.TemporaryDirectory() as tmp:
        grad = os.path.join(tmp, "grad.png")
        shape = os.path.join(tmp, "shape.png")
        convert("-size", f"{big}x{big}", f"gradient:{body_a}-{body_b}", grad)
        convert("-size", f"{big}x{big}", "xc:none", "-fill", "white", "-stroke", "white",
                "-strokewidth", str(big * 0.06),
                "-draw", f"stroke-linejoin round polygon {hexagon(c, c, big * 0.42)}", shape)
        convert(grad, shape, "-compose", "CopyOpacity", "-composite",
                "-fill", "none", "-stroke", edge, "-strokewidth", str(big * 0.018),
                "-draw", f"polygon {hexagon(c, c, big * 0.40)}",
                "-stroke", "none", "-fill", letter,
                "-draw", f"polygon {z_shape(c, c, big * 0.17, big * 0.075)}",
                "-resize", f"{size}x{size}", "-strip", out)


def logo(out, icon):
    """Mark above the word, for the login form."""
    with tempfile.TemporaryDirectory() as tmp:
        word = os.path.join(tmp, "word.png")
        sub = os.path.join(tmp, "sub.png")
        convert("-background", "none", "-fill", "white", "-font", f"{FONT_DIR}/Roboto-Black.ttf",
                "-pointsize", "46", "-kerning", "10", "label:ZANTRY", "-trim", word)
        convert("-background", "none", "-fill", BRIGHT, "-font", f"{FONT_DIR}/Roboto-Medium.ttf",
                "-pointsize", "13", "-kerning", "5", "label:LORVANE LADDER", "-trim", sub)
        convert("-size", "300x176", "xc:none",
                "(", icon, "-resize", "104x104", ")", "-gravity", "north", "-geometry", "+0+0", "-composite",
                word, "-gravity", "north", "-geometry", "+0+112", "-composite",
                sub, "-gravity", "north", "-geometry", "+0+160", "-composite", "-strip", out)


def tray(out, size=64):
    """The mark on a dark rounded tile, readable on light and dark panels."""
    big = size * 4
    with tempfile.TemporaryDirectory() as tmp:
        m = os.path.join(tmp, "m.png")
        mark(m, big, BRIGHT, BLUE, "#5fa8ff", "#ffffff", scale=1)
        convert("-size", f"{big}x{big}", "xc:none", "-fill", "#0c0c0c", "-stroke", "#1c1c1c",
                "-strokewidth", "6", "-draw", f"roundrectangle 4,4 {big - 5},{big - 5} 44,44",
                "(", m, "-background", "none", "-resize", "112%", "-gravity", "center", "-extent", f"{big}x{big}", ")",
                "-compose", "over", "-composite", "-resize", f"{size}x{size}", "-strip", out)


def arrow(out):
    """The combo box arrow: a chevron in the buttons' blue."""
    s = 4
    convert("-size", f"{30 * s}x{28 * s}", "xc:none", "-fill", "none", "-stroke", BLUE,
            "-strokewidth", str(2.6 * s),
            "-draw", f"stroke-linecap round stroke-linejoin round polyline {10 * s},{11 * s} {15 * s},{16.5 * s} {20 * s},{11 * s}",
            "-resize", "30x28", "-strip", out)


def arc_path(c, r, start, end):
    """An open arc as a fine polyline; MVG's arc and path primitives close the shape."""
    steps = max(2, int(abs(end - start) / 3))
    pts = []
    for i in range(steps + 1):
        a = math.radians(start + (end - start) * i / steps)
        pts.append(f"{c + r * math.cos(a):.1f},{c + r * math.sin(a):.1f}")
    return "polyline " + " ".join(pts)


def check(out):
    """The tick of a checked box, white on the box's blue."""
    s = 8
    convert("-size", f"{14 * s}x{14 * s}", "xc:none", "-fill", "none", "-stroke", "white",
            "-strokewidth", str(2.2 * s),
            "-draw", f"stroke-linecap round stroke-linejoin round polyline {3 * s},{7.5 * s} {6 * s},{10.5 * s} {11 * s},{4 * s}",
            "-resize", "14x14", "-strip", out)


def loader(out, size=64, frames=24, bg="#060606"):
    """A ring with a bright arc running round it, for waiting."""
    s = 4
    big = size * s
    c = big / 2
    r = big * 0.36
    with tempfile.TemporaryDirectory() as tmp:
        names = []
        for i in range(frames):
            start = 360.0 * i / frames - 90
            name = os.path.join(tmp, f"f{i:02d}.png")
            convert("-size", f"{big}x{big}", f"xc:{bg}", "-fill", "none",
                    "-stroke", "#14202e", "-strokewidth", str(big * 0.08),
                    "-draw", f"circle {c},{c} {c + r},{c}",
                    "-stroke", BLUE, "-strokewidth", str(big * 0.08),
                    "-draw", f"stroke-linecap round stroke-linejoin round {arc_path(c, r, start, start + 150)}",
                    "-stroke", BRIGHT,
                    "-draw", f"stroke-linecap round stroke-linejoin round {arc_path(c, r, start + 100, start + 150)}",
                    "-resize", f"{size}x{size}", name)
            names.append(name)
        convert("-delay", "4", "-loop", "0", *names, out)


RATE = 22050


def write_wav(path, samples):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        peak = max(1e-9, max(abs(x) for x in samples))
        w.writeframes(b"".join(struct.pack("<h", int(32000 * 0.8 * x / peak)) for x in samples))


def bell(freq, t):
    """A soft bell: the fundamental with two quieter partials."""
    return (math.sin(2 * math.pi * freq * t) + 0.35 * math.sin(2 * math.pi * 2 * freq * t)
            + 0.12 * math.sin(2 * math.pi * 3.01 * freq * t))


def chime(notes, length, decay):
    out = [0.0] * int(RATE * length)
    for start, freq in notes:
        first = int(RATE * start)
        for n in range(first, len(out)):
            t = (n - first) / RATE
            attack = min(1.0, t / 0.005)
            out[n] += attack * math.exp(-t / decay) * bell(freq, t)
    return out


ICONS = os.path.join(HERE, "..", "..", "..", "..", "packaging", "icons")
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256, 512)


def desktop_icons():
    """The program's icon for the desktop's menus, one per hicolor size."""
    os.makedirs(ICONS, exist_ok=True)
    for size in ICON_SIZES:
        mark(os.path.join(ICONS, f"{size}.png"), size, BRIGHT, DEEP, "#5fa8ff", "#ffffff", scale=max(4, 1024 // size))


def main():
    if sys.argv[1:] == ["icons"]:
        desktop_icons()
        return 0
    os.makedirs(IMAGES, exist_ok=True)
    os.makedirs(SOUNDS, exist_ok=True)
    icon = os.path.join(IMAGES, "logo-icon.png")
    mark(icon, 128, BRIGHT, DEEP, "#5fa8ff", "#ffffff")
    mark(os.path.join(IMAGES, "logo-icon-dark.png"), 256, "#1a1a1a", "#101010", "#262626", "#2c2c2c")
    logo(os.path.join(IMAGES, "logo.png"), icon)
    tray(os.path.join(IMAGES, "dark_tray_icon.png"))
    arrow(os.path.join(IMAGES, "dropdown-arrow.png"))
    check(os.path.join(IMAGES, "check.png"))
    loader(os.path.join(IMAGES, "loader.gif"))
    # A match: a rising major arpeggio. The reminder: one short, softer note.
    e5 = 659.25
    write_wav(os.path.join(SOUNDS, "shake_it.wav"),
              chime([(0.0, e5), (0.09, e5 * 1.26), (0.18, e5 * 1.498), (0.27, e5 * 2)], 0.9, 0.16))
    write_wav(os.path.join(SOUNDS, "reminder.wav"), chime([(0.0, 880.0)], 0.3, 0.07))
    desktop_icons()
    return 0


if __name__ == "__main__":
    sys.exit(main())
