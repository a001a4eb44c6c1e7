#!/usr/bin/env python3
"""Prints a C++ string literal holding the code page 932 bytes of each argument.

Used when a message text of the program is added or changed: the sources keep the
text as bytes, with the readable text beside them in a comment.
"""
import sys

HEX = "0123456789abcdefABCDEF"

for text in sys.argv[1:]:
    out, after_escape = "", False
    for byte in text.encode("cp932"):
        ch = chr(byte)
        if 0x20 <= byte < 0x7F and ch not in '"\\':
            if after_escape and ch in HEX:
                out += '" "'
            out += ch
            after_escape = False
        else:
            out += "\\x%02X" % byte
            after_escape = True
    print("// %s\n\"%s\"" % (text, out))
