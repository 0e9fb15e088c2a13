#!/usr/bin/env python3
"""Writes one language's help project for chmcmd from the shared page
template and that language's texts.

    make-help.py LANGUAGE.rc TEXTS.txt page.htm.in OUTDIR

The compiled file's name is the language's string 150 (IDS_HELP_FILE) and
the dialog's own words (field labels, buttons, title, the two messages)
come from the same string table, so the page says what the dialog shows.
The texts file holds everything else: "key: text" lines, indented lines
continue the text above, "#" starts a comment. A text may name a dialog
word as {ok}, {connection} and so on.

Everything is written in code page 1252, the ANSI code page of all nine
languages (characters outside it, none today, become HTML references).
"""
import html
import os
import re
import sys

PAGE = "Properties-ExtendedConfiguration.htm"
ENCODING = "cp1252"

# The dialog's strings the page quotes, by their names in the string table.
DIALOG_STRINGS = {
    "dialog_title": "IDS_DIALOG_TITLE",
    "address_label": "IDS_ADDRESS_LABEL",
    "community_label": "IDS_COMMUNITY_LABEL",
    "timeout_label": "IDS_TIMEOUT_LABEL",
    "ok": "IDS_OK_BUTTON",
    "cancel": "IDS_CANCEL_BUTTON",
    "help": "IDS_HELP_BUTTON",
    "connection": "IDS_CONNECTION_TEXT",
    "not_stored": "IDS_NOT_STORED_TEXT",
    "help_file": "IDS_HELP_FILE",
}

PROJECT = """[OPTIONS]
Compatibility=1.1 or later
Compiled file={name}.chm
Contents file={name}.hhc
Index file={name}.hhk
Default topic={page}
Display compile progress=No
Language={language}
Title={title}

[FILES]
{page}
"""

SITEMAP_HEAD = """<!DOCTYPE HTML PUBLIC "-//IETF//DTD HTML//EN">
<HTML>
<HEAD></HEAD>
<BODY>
<UL>
"""
SITEMAP_TAIL = """</UL>
</BODY>
</HTML>
"""
ENTRY = ('  <LI><OBJECT type="text/sitemap"><param name="Name" value="{0}">'
         '<param name="Local" value="{1}"></OBJECT>\n')


def fail(message):
    sys.exit("make-help.py: " + message)


def read_string_table(path):
    """The quoted strings of a .rc string table by name, escapes decoded."""
    strings = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            m = re.match(r'\s*(IDS_\w+)\s+"((?:[^"\\]|\\.)*)"', line)
            if m:
                strings[m.group(1)] = re.sub(r"\\(.)", lambda e: "\n" if e.group(1) == "n"
                                             else e.group(1), m.group(2))
    return strings


def dialog_words(rc_path):
    table = read_string_table(rc_path)
    words = {}
    for key, name in DIALOG_STRINGS.items():
        if name not in table:
            fail("%s has no %s" % (rc_path, name))
        words[key] = table[name]
    for key in ("address_label", "community_label", "timeout_label"):
        words[key] = words[key].rstrip(" :")
    # The message's first sentence, as the box shows it.
    words["connection"] = re.split(r"\.(?:\s|$)|\n", words["connection"])[0].strip()
    # The first line of the box for values the printer did not take, quoted
    # as the connection message is: without its full stop.
    words["not_stored"] = words["not_stored"].split("\n")[0].strip().rstrip(".")
    if not words["help_file"].endswith(".chm"):
        fail("%s: string 150 is not a .chm file name" % rc_path)
    escaped = {k: html.escape(v, quote=False) for k, v in words.items()}
    return words, escaped


def read_texts(path):
    texts = {}
    key = None
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            if line[0] in " \t":
                if key is None:
                    fail("%s:%d: continuation without a key" % (path, number))
                texts[key] += "\n" + line.strip()
                continue
            m = re.match(r"(\w+):\s?(.*)$", line)
            if not m:
                fail("%s:%d: expected 'key: text'" % (path, number))
            key = m.group(1)
            texts[key] = m.group(2)
    return texts


def write(path, text):
    with open(path, "w", encoding=ENCODING, errors="xmlcharrefreplace") as f:
        f.write(text)


def main():
    if len(sys.argv) != 5:
        fail("usage: make-help.py LANGUAGE.rc TEXTS.txt page.htm.in OUTDIR")
    rc_path, texts_path, template_path, outdir = sys.argv[1:]
    words, escaped = dialog_words(rc_path)
    texts = read_texts(texts_path)
    try:
        fields = {k: v.format_map(escaped) for k, v in texts.items()}
        fields.update(escaped)
        with open(template_path, encoding="utf-8") as f:
            page = f.read().format_map(fields)
    except KeyError as missing:
        fail("%s: no text %s" % (texts_path, missing))

    name = words["help_file"][:-len(".chm")]
    os.makedirs(outdir, exist_ok=True)
    write(os.path.join(outdir, PAGE), page)
    write(os.path.join(outdir, name + ".hhp"),
          PROJECT.format(name=name, page=PAGE, language=texts["language"],
                         title=texts["project_title"]))
    write(os.path.join(outdir, name + ".hhc"),
          SITEMAP_HEAD + ENTRY.format(html.escape(texts["page_title"]), PAGE) + SITEMAP_TAIL)
    keywords = [texts["page_title"]] + [k.strip() for k in texts["keywords"].split("|")]
    write(os.path.join(outdir, name + ".hhk"),
          SITEMAP_HEAD + "".join(ENTRY.format(html.escape(k), PAGE) for k in keywords)
          + SITEMAP_TAIL)


if __name__ == "__main__":
    main()
