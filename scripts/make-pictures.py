#!/usr/bin/python3
"""Draws the wizards' pictures and writes them into resources/ui/:

  WizardHeader.bmp     49 x 49, 8 bits per pixel: the Wizard97 header picture
  WizardWatermark.bmp  164 x 384, 8 bits per pixel: the exterior pages' band
  Tervolin.ico         256, 48, 32 and 16 pixels square, 256 colours: the
                       window and file icon
  SetupWatermark.bmp   164 x 314, 8 bits per pixel: the installer's welcome
                       and finish pages
  SetupHeader.bmp      150 x 57, 8 bits per pixel: the installer's header

The motif is a handheld GPS receiver over a topographic map with a track.
Everything is drawn with palette indices of one fixed palette and written
by this script byte by byte, so the same script always gives the same
files. Usage: make-pictures.py [OUTPUT_FOLDER] (default resources/ui).
"""
import os
import struct
import sys

from PIL import Image, ImageDraw

# The palette: a ramp for the sky and sea band, a ramp for the land, then a
# few named colours. Unused entries stay black.
SKY = list(range(0, 64))      # deep blue (0) to pale cyan (63)
LAND = list(range(64, 96))    # dark green (64) to sand (95)
BLACK, WHITE, CASE, CASE_LIGHT, SCREEN, SCREEN_DARK, TRACK, PIN, PIN_DARK, CONTOUR, GREY, KEY = range(96, 108)


def lerp(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def palette():
    colours = [(0, 0, 0)] * 256
    for i in SKY:
        colours[i] = lerp((10, 40, 110), (190, 230, 245), i / 63)
    for i, index in enumerate(LAND):
        colours[index] = lerp((60, 120, 60), (225, 215, 160), i / 31)
    colours[BLACK] = (0, 0, 0)
    colours[WHITE] = (255, 255, 255)
    colours[CASE] = (45, 50, 60)
    colours[CASE_LIGHT] = (95, 105, 120)
    colours[SCREEN] = (200, 225, 170)
    colours[SCREEN_DARK] = (120, 150, 100)
    colours[TRACK] = (220, 40, 40)
    colours[PIN] = (250, 170, 30)
    colours[PIN_DARK] = (150, 90, 10)
    colours[CONTOUR] = (110, 95, 60)
    colours[GREY] = (170, 170, 170)
    colours[KEY] = (200, 200, 210)
    return colours


def new_image(width, height, fill):
    image = Image.new("P", (width, height), fill)
    image.putpalette([c for rgb in palette() for c in rgb])
    return image


def receiver(draw, left, top, width, height):
    """A handheld receiver: case, antenna, screen with a map and a track, keys."""
    antenna = max(2, width // 6)
    draw.rectangle([left + width - antenna * 2, top, left + width - antenna, top + height // 5], fill=CASE)
    body_top = top + height // 6
    radius = max(2, width // 6)
    draw.rounded_rectangle([left, body_top, left + width - 1, top + height - 1], radius, fill=CASE,
                           outline=CASE_LIGHT)
    margin = max(2, width // 8)
    screen = [left + margin, body_top + margin, left + width - 1 - margin, body_top + (height - height // 6) * 55 // 100]
    draw.rectangle(screen, fill=SCREEN, outline=SCREEN_DARK)
    sx0, sy0, sx1, sy1 = screen
    sw, sh = sx1 - sx0, sy1 - sy0
    for k in range(1, 3):
        y = sy0 + sh * k // 3
        draw.line([sx0 + 1, y, sx1 - 1, y - sh // 6], fill=SCREEN_DARK)
    points = [(sx0 + sw * 1 // 8, sy1 - sh // 6), (sx0 + sw * 3 // 8, sy0 + sh * 2 // 3),
              (sx0 + sw * 5 // 8, sy0 + sh * 3 // 4), (sx0 + sw * 7 // 8, sy0 + sh // 4)]
    draw.line(points, fill=TRACK, width=max(1, width // 16))
    keys_top = sy1 + margin
    key = max(2, width // 7)
    for row in range(2):
        for column in range(3):
            x = left + margin + column * (key + max(1, key // 2))
            y = keys_top + row * (key + max(1, key // 2))
            if y + key < top + height - margin:
                draw.rectangle([x, y, x + key - 1, y + key - 1], fill=KEY)


def pin(draw, x, y, size):
    """A waypoint pin with its point at (x, y)."""
    draw.ellipse([x - size, y - 3 * size, x + size, y - size], fill=PIN, outline=PIN_DARK)
    draw.polygon([(x - size * 2 // 3, y - size - size // 3), (x + size * 2 // 3, y - size - size // 3), (x, y)],
                 fill=PIN)
    draw.point([x, y - 2 * size], fill=WHITE)


def header():
    image = new_image(49, 49, WHITE)
    draw = ImageDraw.Draw(image)
    draw.ellipse([2, 2, 46, 46], fill=SKY[50])
    for k, index in enumerate((LAND[4], LAND[10], LAND[16])):
        draw.ellipse([8 + 4 * k, 20 + 3 * k, 44 - 3 * k, 46 - k], fill=index)
    receiver(draw, 8, 6, 20, 38)
    pin(draw, 38, 30, 5)
    return image


def watermark(height=384):
    width = 164
    image = new_image(width, height, SKY[0])
    draw = ImageDraw.Draw(image)
    for y in range(height):
        draw.line([0, y, width - 1, y], fill=SKY[min(63, y * 64 // height)])
    # The land below, with contour lines. The sheet shows about the top 314
    # rows at normal font size; the rest is for large fonts.
    land_top = 200 * height // 384
    draw.polygon([(0, land_top + 20), (50, land_top), (110, land_top + 15), (width, land_top - 5),
                  (width, height), (0, height)], fill=LAND[6])
    for k in range(1, 6):
        inset = k * 12
        draw.ellipse([20 + inset, land_top + 20 + inset // 2, width - 10 - inset // 2, height + 60 - inset],
                     outline=CONTOUR, fill=LAND[6 + 4 * k])
    # A track over the land with its waypoints.
    track = [(x, y * height // 384) for x, y in ((12, 300), (40, 270), (70, 282), (96, 248), (128, 256), (150, 222))]
    draw.line(track, fill=TRACK, width=3)
    for x, y in track[1::2]:
        pin(draw, x, y, 5)
    # The receiver itself.
    receiver(draw, 46, 28 * height // 384, 72, 150 * height // 384)
    return image


def setup_header():
    """The installer's header: the header picture's motif on the right of a
    white band, where the installer draws it."""
    image = new_image(150, 57, WHITE)
    image.paste(header(), (150 - 49 - 4, 4))
    return image


def icon_image(size):
    image = new_image(size, size, BLACK)
    draw = ImageDraw.Draw(image)
    receiver(draw, size // 8, 0, size * 9 // 16, size)
    pin(draw, size * 13 // 16, size * 7 // 8, max(2, size // 8))
    # The mask: everything drawn is opaque, the background (index BLACK,
    # never used by the drawing) transparent.
    return image


def rows_bottom_up(image):
    width, height = image.size
    stride = (width + 3) & ~3
    pixels = image.tobytes()
    return b"".join(pixels[y * width:(y + 1) * width].ljust(stride, b"\0") for y in reversed(range(height)))


def palette_bytes():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette())


def info_header(width, height, image_size):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, image_size, 2835, 2835, 256, 0)


def bmp_bytes(image):
    width, height = image.size
    pixels = rows_bottom_up(image)
    offset = 14 + 40 + 256 * 4
    return (struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset) +
            info_header(width, height, len(pixels)) + palette_bytes() + pixels)


def mask_bytes(image):
    width, height = image.size
    stride = ((width + 31) // 32) * 4
    data = image.tobytes()
    rows = []
    for y in reversed(range(height)):
        row = bytearray(stride)
        for x in range(width):
            if data[y * width + x] == BLACK:
                row[x // 8] |= 0x80 >> (x % 8)
        rows.append(bytes(row))
    return b"".join(rows)


def ico_bytes(images):
    entries = []
    for image in images:
        width, height = image.size
        pixels = rows_bottom_up(image)
        entries.append(info_header(width, height * 2, 0) + palette_bytes() + pixels + mask_bytes(image))
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for image, entry in zip(images, entries):
        width, height = image.size
        # A 256-pixel side is written as 0: the field has one byte.
        directory += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 8, len(entry), offset)
        offset += len(entry)
    return directory + b"".join(entries)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "resources", "ui")
    outputs = {
        "WizardHeader.bmp": bmp_bytes(header()),
        "WizardWatermark.bmp": bmp_bytes(watermark()),
        "Tervolin.ico": ico_bytes([icon_image(size) for size in (256, 48, 32, 16)]),
        "SetupWatermark.bmp": bmp_bytes(watermark(314)),
        "SetupHeader.bmp": bmp_bytes(setup_header()),
    }
    for name, data in outputs.items():
        with open(os.path.join(folder, name), "wb") as file:
            file.write(data)


if __name__ == "__main__":
    main()
