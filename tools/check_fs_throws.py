#!/usr/bin/python3
"""Fails on any call of a std::filesystem function or member that throws.

Every such function has an overload that takes a std::error_code and
throws nothing; the program's code uses only those, so a file system that
cannot be examined is a reported error, never an exception that ends the
process. A call counts as the non-throwing overload when one of its
top-level arguments is a variable the same file declares as a
std::error_code. Run from the repository root; prints each offending call
as FILE:LINE: TEXT and exits 1 when there is one.
"""

import pathlib
import re
import sys

DIRS = ["app", "catalog", "cli", "document", "frame", "update", "views"]

# Free functions (and the iterators' constructors) that throw without an
# error_code.
FUNCTIONS = [
    "absolute", "canonical", "copy", "copy_file", "copy_symlink", "create_directories",
    "create_directory", "create_directory_symlink", "create_hard_link", "create_symlink",
    "current_path", "equivalent", "exists", "file_size", "hard_link_count", "is_block_file",
    "is_character_file", "is_directory", "is_empty", "is_fifo", "is_other",
    "is_regular_file", "is_socket", "is_symlink", "last_write_time", "permissions",
    "proximate", "read_symlink", "relative", "remove", "remove_all", "rename", "resize_file",
    "space", "status", "symlink_status", "temp_directory_path", "weakly_canonical",
    "directory_iterator", "recursive_directory_iterator",
]
# Members of directory_entry and the iterators that throw without one.
MEMBERS = [
    "exists", "file_size", "hard_link_count", "is_block_file", "is_character_file",
    "is_directory", "is_fifo", "is_other", "is_regular_file", "is_socket", "is_symlink",
    "last_write_time", "refresh", "status", "symlink_status", "increment",
]

PREFIX = r"(?:std::filesystem::|\bfs::|\bstd::fs::)"
FREE = re.compile(PREFIX + r"(" + "|".join(FUNCTIONS) + r")\s*(\(|\{)")
# An iterator declared with its arguments: `fs::directory_iterator it(dir)`.
DECLARED = re.compile(PREFIX + r"((?:recursive_)?directory_iterator)\s+\w+\s*(\(|\{)")
# `it->is_directory()`, `entry.exists()` (nothing between the parentheses:
# the overloads with an error_code take one).
MEMBER = re.compile(r"(?:\.|->)(" + "|".join(MEMBERS) + r")\s*\(\s*\)")
# A range-for over an iterator made without an error_code.
RANGE = re.compile(r"for\s*\([^;]*:\s*" + PREFIX + r"(?:recursive_)?directory_iterator\s*\(")
ERROR_CODE = re.compile(r"std::error_code\s+(\w+)")


def strip(text):
    """The text with comments and string literals blanked (lengths kept)."""
    out = []
    i = 0
    n = len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c == '"' or (c == "'" and not (i > 0 and text[i - 1].isalnum())):
            # (A quote after a digit or letter is a digit separator: 1'000.)
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j = min(j, n)
            out.append(c + " " * (j - i - 1))
            if j < n and text[j] == c:
                out.append(c)
                j += 1
            i = j
        else:
            out.append(c)
            i += 1
    return "".join(out)


def arguments(text, start, close):
    """Top-level arguments of the call whose bracket opens at `start`."""
    opener = text[start]
    depth = 0
    args = []
    current = []
    for i in range(start, len(text)):
        c = text[i]
        if c in "([{<" and not (c == "<" and text[i - 1] == " "):
            depth += 1
            if depth == 1:
                continue
        elif c in ")]}>" and not (c == ">" and text[i - 1] in " -"):
            depth -= 1
            if depth == 0 and c == close:
                args.append("".join(current).strip())
                return args
        if depth == 1 and c == ",":
            args.append("".join(current).strip())
            current = []
        else:
            current.append(c)
    return args


def check(path):
    text = strip(path.read_text(encoding="utf-8", errors="replace"))
    codes = set(ERROR_CODE.findall(text))
    found = []
    for match in list(FREE.finditer(text)) + list(DECLARED.finditer(text)):
        bracket = match.start(2)
        args = arguments(text, bracket, ")" if text[bracket] == "(" else "}")
        # An iterator made with no arguments is the end iterator.
        if match.group(1).endswith("directory_iterator") and args in ([], [""]):
            continue
        if not any(arg in codes for arg in args):
            found.append(match.start())
    for match in MEMBER.finditer(text):
        found.append(match.start())
    for match in RANGE.finditer(text):
        found.append(match.start())
    lines = path.read_text(encoding="utf-8", errors="replace").split("\n")
    numbers = sorted({text.count("\n", 0, offset) for offset in found})
    return [f"{path}:{line + 1}: {lines[line].strip()}" for line in numbers]


def main():
    root = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path(".")
    report = []
    for folder in DIRS:
        for path in sorted((root / folder).rglob("*")):
            if path.suffix in (".cpp", ".h") and path.is_file():
                report.extend(check(path))
    for line in report:
        print(line)
    if report:
        print(f"{len(report)} throwing std::filesystem call(s); use the std::error_code overloads",
              file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
