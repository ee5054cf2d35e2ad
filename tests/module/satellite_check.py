#!/usr/bin/env python3
"""The German satellite mirrors the module's user interface resources, read
from the two built libraries with a PE resource reader written here:

- every string, dialog, bitmap and icon id of Tervolin.dll is in
  Tervolin.lang-1031.dll, and the satellite has none the module lacks;
- each dialog has the same control ids in the same order in both;
- the satellite's strings and dialogs are German, and its product version
  is the module's, so that the module takes it;
- no German text is left empty where the English one is not;
- the layer sheet's style names, a run of strings from the first id that
  MAP_RESOURCES defines, are unique in each language: two styles of the same
  name could not be told apart in the sorted list.

Usage: satellite_check.py MODULE SATELLITE MAP_RESOURCES"""
import collections
import re
import struct
import sys

RT_BITMAP, RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION = 2, 3, 5, 6, 14, 16
# What the module loads from its resource instance (icons through their group).
MIRRORED_TYPES = {RT_BITMAP: "bitmap", RT_DIALOG: "dialog", RT_GROUP_ICON: "icon"}
LANG_GERMAN = 0x0407


class PeResources:
    """{(type, id): [(language, bytes)]} of a 32-bit PE file."""

    def __init__(self, path):
        self.data = open(path, "rb").read()
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        sections, optional_size = struct.unpack_from("<H12xH", self.data, pe + 6)
        optional = pe + 24
        # The data directories follow 96 bytes of a PE32 optional header, 112
        # of a PE32+ one (64-bit modules).
        directories = 112 if struct.unpack_from("<H", self.data, optional)[0] == 0x20B else 96
        resource_rva = struct.unpack_from("<I", self.data, optional + directories + 2 * 8)[0]
        self.sections = [struct.unpack_from("<8xIIII", self.data, optional + optional_size + 40 * i)
                         for i in range(sections)]
        self.base = self.offset(resource_rva)
        self.items = {}
        for type_id, type_entry in self.directory(0):
            for name_id, name_entry in self.directory(type_entry):
                for language, leaf in self.directory(name_entry):
                    rva, size = struct.unpack_from("<II", self.data, self.base + leaf)
                    self.items.setdefault((type_id, name_id), []).append(
                        (language, self.data[self.offset(rva):self.offset(rva) + size]))

    def offset(self, rva):
        for virtual_size, address, raw_size, raw_offset in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return rva - address + raw_offset
        raise ValueError(f"RVA {rva:#x} is in no section")

    def directory(self, at):
        named, numbered = struct.unpack_from("<12xHH", self.data, self.base + at)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", self.data, self.base + at + 16 + 8 * i)
            if name & 0x80000000:
                length = struct.unpack_from("<H", self.data, self.base + (name & 0x7FFFFFFF))[0]
                start = self.base + (name & 0x7FFFFFFF) + 2
                name = self.data[start:start + 2 * length].decode("utf-16-le")
            yield name, target & 0x7FFFFFFF

    def ids(self, resource_type):
        return {name for kind, name in self.items if kind == resource_type}

    def strings(self):
        """{string id: (language, text)} from the string table blocks."""
        result = {}
        for (kind, block), entries in self.items.items():
            if kind != RT_STRING:
                continue
            for language, data in entries:
                position = 0
                for index in range(16):
                    length = struct.unpack_from("<H", data, position)[0]
                    text = data[position + 2:position + 2 + 2 * length].decode("utf-16-le")
                    position += 2 + 2 * length
                    if length:
                        result[(block - 1) * 16 + index] = (language, text)
        return result

    def product_version(self):
        for (kind, _), entries in self.items.items():
            if kind == RT_VERSION:
                data = entries[0][1]
                fixed = data.find(struct.pack("<I", 0xFEEF04BD))
                return struct.unpack_from("<II", data, fixed + 16)
        return None


def skip_text(data, position):
    """Position after a 0xFFFF-prefixed ordinal or a NUL-terminated string."""
    if struct.unpack_from("<H", data, position)[0] == 0xFFFF:
        return position + 4
    while struct.unpack_from("<H", data, position)[0] != 0:
        position += 2
    return position + 2


def align4(position):
    return (position + 3) & ~3


def dialog_control_ids(data):
    """Control ids in template order, for DIALOG and DIALOGEX templates."""
    extended = struct.unpack_from("<HH", data, 0) == (1, 0xFFFF)
    if extended:
        style, count = struct.unpack_from("<12xIH", data, 0)
        position = 26
    else:
        style, count = struct.unpack_from("<I4xH", data, 0)
        position = 18
    for _ in range(3):  # menu, class, caption
        position = skip_text(data, position)
    if style & 0x40:  # DS_SETFONT: size (and weight, italic, charset) and face
        position = skip_text(data, position + (6 if extended else 2))
    ids = []
    for _ in range(count):
        position = align4(position)
        if extended:
            control_id = struct.unpack_from("<i", data, position + 20)[0]
            position += 24
        else:
            control_id = struct.unpack_from("<h", data, position + 16)[0]
            position += 18
        ids.append(control_id)
        position = skip_text(data, skip_text(data, position))  # class, title
        extra = struct.unpack_from("<H", data, position)[0]
        position += 2 + extra
    return ids


def style_names(strings, first):
    """The run of strings from the first style id on."""
    names = []
    while first + len(names) in strings:
        names.append(strings[first + len(names)][1])
    return names


def main(module_path, satellite_path, map_resources_path):
    module, satellite = PeResources(module_path), PeResources(satellite_path)
    first_style = int(re.search(r"#define IDS_LAYER_STYLE_FIRST (\d+)", open(map_resources_path).read()).group(1))
    failures = []

    def check(condition, message):
        if not condition:
            failures.append(message)
            print("FAIL:", message)

    for kind, name in MIRRORED_TYPES.items():
        missing = sorted(module.ids(kind) - satellite.ids(kind), key=str)
        extra = sorted(satellite.ids(kind) - module.ids(kind), key=str)
        check(not missing, f"the satellite lacks {name} {missing}")
        check(not extra, f"the satellite has {name} {extra} that the module lacks")

    for dialog in sorted(module.ids(RT_DIALOG) & satellite.ids(RT_DIALOG), key=str):
        english = dialog_control_ids(module.items[(RT_DIALOG, dialog)][0][1])
        language, template = satellite.items[(RT_DIALOG, dialog)][0]
        check(language == LANG_GERMAN, f"dialog {dialog} is in language {language:#x}")
        check(dialog_control_ids(template) == english,
              f"dialog {dialog}: controls {dialog_control_ids(template)} differ from {english}")

    english_strings, german_strings = module.strings(), satellite.strings()
    check(not sorted(english_strings.keys() - german_strings.keys()),
          f"the satellite lacks strings {sorted(english_strings.keys() - german_strings.keys())}")
    check(not sorted(german_strings.keys() - english_strings.keys()),
          f"the satellite has strings {sorted(german_strings.keys() - english_strings.keys())} the module lacks")
    for string_id, (language, text) in sorted(german_strings.items()):
        check(language == LANG_GERMAN, f"string {string_id} is in language {language:#x}")
        check(text.strip() or not english_strings.get(string_id, (0, ""))[1].strip(), f"string {string_id} is empty")

    for language, strings in (("English", english_strings), ("German", german_strings)):
        names = style_names(strings, first_style)
        repeated = sorted(name for name, count in collections.Counter(map(str.casefold, names)).items() if count > 1)
        check(names, f"no {language} style names from string {first_style}")
        check(not repeated, f"{language} style names used twice: {repeated}")

    check(module.product_version() is not None, "the module has no product version")
    check(satellite.product_version() == module.product_version(),
          f"product versions {satellite.product_version()} and {module.product_version()} differ")

    counts = {name: len(module.ids(kind)) for kind, name in MIRRORED_TYPES.items()}
    print(f"{len(english_strings)} strings, {counts} compared; {len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
