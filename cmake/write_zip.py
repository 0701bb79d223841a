"""Writes a zip archive that the same files always make byte for byte: the
entries in the order given, each with the same fixed time and mode. (CMake's
own zip writer also records each file's access and change times.)

  python3 write_zip.py ARCHIVE.zip FILE...   (run in the files' folder)
"""
import sys
import zipfile

with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as archive:
    for name in sys.argv[2:]:
        entry = zipfile.ZipInfo(name, date_time=(2000, 1, 1, 0, 0, 0))
        entry.external_attr = 0o100644 << 16
        entry.compress_type = zipfile.ZIP_DEFLATED
        with open(name, "rb") as f:
            archive.writestr(entry, f.read())
