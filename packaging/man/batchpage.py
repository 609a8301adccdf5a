#!/usr/bin/env python3
"""Writes the manual page tessera-batch.1 from the built tool itself, so that it says what
--help says: the synopsis and the description from `tessera-batch --help`, every option (its
value, its help and its choices) and the exit statuses from `tessera-batch --describe`, which
both come from the job's one table of choices. The examples, files and see-also sections come
from a page of their own (tessera-batch.sections).

    batchpage.py TOOL SECTIONS VERSION DATE OUTPUT
"""
import json
import subprocess
import sys


def roff(text):
    """Text as roff reads it literally: backslashes escaped, no line taken as a request."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    lines = []
    for line in text.split("\n"):
        if line.startswith((".", "'")):
            line = "\\&" + line
        lines.append(line)
    return "\n".join(lines)


def help_parts(help_text):
    """The usage lines (without "Usage: ") and the paragraph of description of --help."""
    paragraphs = help_text.split("\n\n")
    usage = paragraphs[0].split("\n")
    if not usage[0].startswith("Usage: "):
        raise SystemExit("batchpage.py: --help does not begin with its usage")
    indent = len("Usage: ")
    synopsis = [line[indent:] if line[:indent].strip() == "" else line for line in usage]
    synopsis[0] = usage[0][indent:]
    description = paragraphs[1]
    if description.lstrip().startswith("--"):
        raise SystemExit("batchpage.py: --help has no description before its options")
    return synopsis, description


def option_lines(option):
    head = "\\fB" + roff(option["name"]) + "\\fR"
    if option.get("value"):
        head += " \\fI" + roff(option["value"]) + "\\fR"
    lines = [".TP", head, roff(option["help"])]
    choices = option.get("choices")
    if choices:
        lines.append(".RS")
        for choice in choices:
            lines += [".TP", "\\fB" + roff(choice["value"]) + "\\fR", roff(choice["label"])]
        lines.append(".RE")
    return lines


def page(help_text, description, sections, version, date):
    synopsis, paragraph = help_parts(help_text)
    options = description["options"]
    # Every option --help shows is one the description lists, in the same order.
    shown = [line.split()[0] for line in help_text.split("\n") if line.startswith("  --")]
    if shown != [option["name"] for option in options]:
        raise SystemExit("batchpage.py: --help and --describe list different options")
    lines = [
        '.\\" Written by packaging/man/batchpage.py from tessera-batch --help and --describe.',
        '.TH TESSERA\\-BATCH 1 "%s" "Tessera_V2 %s" "User Commands"' % (date, version),
    ]
    name_section, _, rest = sections.partition("\n.SH ")
    lines.append(name_section.rstrip("\n"))
    lines += [".SH SYNOPSIS", ".nf"]
    lines += [roff(line) for line in synopsis]
    lines += [".fi", ".SH DESCRIPTION", roff(paragraph), ".SH OPTIONS"]
    for option in options:
        lines += option_lines(option)
    lines.append(".SH EXIT STATUS")
    for status, meaning in sorted(description["exit_status"].items(), key=lambda s: int(s[0])):
        lines += [".TP", "\\fB" + status + "\\fR", roff(meaning)]
    if rest:
        lines.append(".SH " + rest.rstrip("\n"))
    return "\n".join(lines) + "\n"


def main():
    tool, sections_path, version, date, output = sys.argv[1:6]
    help_text = subprocess.run([tool, "--help"], capture_output=True, text=True,
                               check=True).stdout
    description = json.loads(subprocess.run([tool, "--describe"], capture_output=True,
                                            text=True, check=True).stdout)
    with open(sections_path, encoding="utf-8") as sections:
        text = page(help_text, description, sections.read(), version, date)
    with open(output, "w", encoding="utf-8") as out:
        out.write(text)


if __name__ == "__main__":
    main()
