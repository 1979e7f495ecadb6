#!/usr/bin/env python3
"""Checks the help files that the desktop program shows.

Usage: check_help.py HELP_DIR [UI_DIR]

HELP_DIR holds one directory per language (helpen/, helpde/, ...), the
context-help texts (popupen.txt, popupde.txt, ...) and control_contexts.ini.
For every language directory it checks that every relative link and anchor
of every page exists, that the contents page links every page, and that
contexts.ini maps every help context number of the dialogs to an existing
page and anchor. It checks that every number of control_contexts.ini has a
text in every popup file, that popup keys are numbers above 2000, and that
the languages agree on pages, anchors and numbers. When HELP_DIR/../Lang
holds language files, the help directory and popup file each one names must
exist. When UI_DIR is given, every FormName.objectName of
control_contexts.ini must name a widget of the Designer file (*.ui, searched
below UI_DIR) whose top widget is FormName. The last line printed is
"N passed, N failed"; the exit status is 1 when anything failed.
"""

import os
import re
import sys
import xml.etree.ElementTree as ElementTree
from html.parser import HTMLParser
from urllib.parse import unquote, urlsplit

# Help context numbers the dialogs open with their Help button or F1.
REQUIRED_CONTEXTS = list(range(1000, 1011)) + list(range(1020, 1026))

# Context numbers of controls, per window.
CONTROL_BLOCKS = {
    "PropertiesForm": (2100, 2299),
    "ParametersForm": (2300, 2499),
    "OptionsForm": (2500, 2599),
}

# The program reads at most this many characters of a value.
MAX_VALUE_LENGTH = 2047


class Results:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, ok, message):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            print("FAIL: " + message)
        return ok


def read_ini(path, results):
    """Reads an INI file the way the program does: sections and keys without
    regard to case, ";" comments, blanks around values removed. Answers
    {section: {key: value}} with lower-case names; a repeated key fails."""
    sections = {}
    current = None
    try:
        with open(path, encoding="utf-8-sig") as f:
            lines = f.read().splitlines()
    except (OSError, UnicodeDecodeError) as e:
        results.check(False, "%s: cannot be read as UTF-8 (%s)" % (path, e))
        return sections
    for number, raw in enumerate(lines, 1):
        line = raw.strip()
        if not line or line.startswith(";"):
            continue
        if line.startswith("[") and line.endswith("]"):
            current = sections.setdefault(line[1:-1].strip().lower(), {})
            continue
        if "=" not in line or current is None:
            results.check(False, "%s:%d: not a key=value line in a section" % (path, number))
            continue
        key, value = line.split("=", 1)
        key = key.strip().lower()
        value = value.strip()
        if not results.check(key not in current, "%s:%d: key %s given twice (the first wins)"
                             % (path, number, key)):
            continue
        current[key] = value
    return sections


class Page(HTMLParser):
    """Collects the anchors and the links of one page."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.anchors = []
        self.links = []  # (tag, attribute, value, line)
        self.scripts = 0
        self.has_charset = False

    def handle_starttag(self, tag, attrs):
        attributes = dict(attrs)
        if tag == "a" and attributes.get("name"):
            self.anchors.append(attributes["name"])
        if attributes.get("id"):
            self.anchors.append(attributes["id"])
        if tag == "script":
            self.scripts += 1
        if tag == "meta" and (attributes.get("charset", "").lower() == "utf-8"
                              or "charset=utf-8" in attributes.get("content", "").lower()):
            self.has_charset = True
        for name in ("href", "src"):
            if attributes.get(name) is not None:
                self.links.append((tag, name, attributes[name], self.getpos()[0]))

    handle_startendtag = handle_starttag


def parse_page(path, results):
    try:
        with open(path, "rb") as f:
            text = f.read().decode("utf-8")
    except (OSError, UnicodeDecodeError) as e:
        results.check(False, "%s: cannot be read as UTF-8 (%s)" % (path, e))
        return None
    page = Page()
    page.feed(text)
    page.close()
    return page


def check_language(directory, results):
    """Checks one language directory; answers (pages, contexts) for the
    comparison between languages: {page: anchors} and {number: target}."""
    name = os.path.basename(directory)
    files = sorted(f for f in os.listdir(directory) if f.endswith(".html"))
    results.check("index.html" in files, "%s: no index.html" % name)
    pages = {}
    for f in files:
        page = parse_page(os.path.join(directory, f), results)
        if page is not None:
            pages[f] = page

    for f, page in pages.items():
        where = "%s/%s" % (name, f)
        results.check(page.has_charset, where + ": no <meta charset=\"utf-8\">")
        results.check(page.scripts == 0, where + ": contains a script")
        duplicates = sorted({a for a in page.anchors if page.anchors.count(a) > 1})
        results.check(not duplicates, where + ": anchors defined twice: " + ", ".join(duplicates))
        for tag, attribute, value, line in page.links:
            link = "%s:%d: <%s %s=\"%s\">" % (where, line, tag, attribute, value)
            parts = urlsplit(value)
            if not results.check(not parts.scheme and not parts.netloc and not value.startswith("/"),
                                 link + " is not a relative link"):
                continue
            target_file = f
            if parts.path:
                target = os.path.normpath(os.path.join(directory, unquote(parts.path)))
                if not results.check(os.path.isfile(target), link + ": no such file"):
                    continue
                target_file = (os.path.relpath(target, directory)
                               if os.path.dirname(target) == directory else None)
            if parts.fragment:
                anchors = pages[target_file].anchors if target_file in pages else None
                results.check(anchors is not None and unquote(parts.fragment) in anchors,
                              link + ": no such anchor")

    if "index.html" in pages:
        linked = {urlsplit(v).path for _, a, v, _ in pages["index.html"].links if a == "href"}
        for f in pages:
            if f != "index.html":
                results.check(f in linked, "%s/index.html does not link %s" % (name, f))

    contexts = {}
    ini_path = os.path.join(directory, "contexts.ini")
    if results.check(os.path.isfile(ini_path), name + ": no contexts.ini"):
        section = read_ini(ini_path, results).get("contexts", {})
        results.check(bool(section), name + "/contexts.ini: no [Contexts] section")
        for key, value in section.items():
            if results.check(key.isdigit(), "%s/contexts.ini: key %s is not a number" % (name, key)):
                contexts[int(key)] = value
        for number in REQUIRED_CONTEXTS:
            where = "%s/contexts.ini: %d" % (name, number)
            if not results.check(number in contexts, where + " is missing"):
                continue
            page, _, anchor = contexts[number].partition("#")
            if not results.check(page in pages, where + ": no page " + page):
                continue
            results.check(bool(anchor) and anchor in pages[page].anchors,
                          where + ": no anchor \"%s\" in %s" % (anchor, page))
    return {f: set(p.anchors) for f, p in pages.items()}, contexts


def check_popups(help_dir, results):
    popup_files = sorted(f for f in os.listdir(help_dir)
                         if re.fullmatch(r"popup\w+\.txt", f))
    results.check(bool(popup_files), "no popup files (popupen.txt, ...)")
    popups = {}
    for f in popup_files:
        section = read_ini(os.path.join(help_dir, f), results).get("popups", {})
        results.check(bool(section), f + ": no [Popups] section")
        texts = {}
        for key, value in section.items():
            where = "%s: %s" % (f, key)
            if not results.check(key.isdigit() and int(key) > 2000,
                                 where + ": a key must be a number above 2000"):
                continue
            results.check(value != "", where + ": empty text")
            results.check(len(value) <= MAX_VALUE_LENGTH,
                          where + ": longer than %d characters" % MAX_VALUE_LENGTH)
            results.check(not (len(value) >= 2 and value[0] == value[-1] and value[0] in "\"'"),
                          where + ": enclosing quotes would be removed")
            texts[int(key)] = value
        popups[f] = texts

    ini_path = os.path.join(help_dir, "control_contexts.ini")
    if not results.check(os.path.isfile(ini_path), "no control_contexts.ini"):
        return
    controls = read_ini(ini_path, results).get("controls", {})
    results.check(bool(controls), "control_contexts.ini: no [Controls] section")
    used = set()
    with open(ini_path, encoding="utf-8-sig") as f:
        written = {line.split("=", 1)[0].strip().lower(): line.split("=", 1)[0].strip()
                   for line in f if "=" in line and not line.lstrip().startswith(";")}
    for key, value in controls.items():
        name = written.get(key, key)
        where = "control_contexts.ini: " + name
        form, dot, control = name.partition(".")
        if not results.check(form in CONTROL_BLOCKS and dot and control,
                             where + ": key must be FormName.objectName of a known window"):
            continue
        if not results.check(value.isdigit(), where + ": value is not a number"):
            continue
        number = int(value)
        low, high = CONTROL_BLOCKS[form]
        results.check(low <= number <= high,
                      "%s: %d is outside %d-%d of %s" % (where, number, low, high, form))
        used.add(number)
        for f, texts in popups.items():
            results.check(number in texts, "%s: %d has no text in %s" % (where, number, f))
    for f, texts in popups.items():
        unused = sorted(set(texts) - used)
        results.check(not unused, "%s: texts no control uses: %s" % (f, unused))


def check_ui_names(help_dir, ui_dir, results):
    forms = {}
    for root, _, files in os.walk(ui_dir):
        for f in files:
            if not f.endswith(".ui"):
                continue
            path = os.path.join(root, f)
            try:
                top = ElementTree.parse(path).getroot().find("widget")
            except ElementTree.ParseError as e:
                results.check(False, "%s: not a Designer file (%s)" % (path, e))
                continue
            if top is not None and top.get("name"):
                names = forms.setdefault(top.get("name"), set())
                names.update(e.get("name") for e in top.iter()
                             if e.tag in ("widget", "action") and e.get("name"))
    ini_path = os.path.join(help_dir, "control_contexts.ini")
    if not os.path.isfile(ini_path):
        return
    with open(ini_path, encoding="utf-8-sig") as f:
        keys = [line.split("=", 1)[0].strip() for line in f
                if "=" in line and not line.lstrip().startswith(";")]
    for key in keys:
        form, _, control = key.partition(".")
        if form not in forms:
            results.check(False, "control_contexts.ini: %s: no %s.ui with top widget %s below %s"
                          % (key, form, form, ui_dir))
            continue
        results.check(control in forms[form],
                      "control_contexts.ini: %s: %s has no widget named %s" % (key, form, control))


def check_language_files(help_dir, results):
    lang_dir = os.path.join(help_dir, os.pardir, "Lang")
    if not os.path.isdir(lang_dir):
        return
    for f in sorted(os.listdir(lang_dir)):
        if not f.lower().endswith(".lng"):
            continue
        general = read_ini(os.path.join(lang_dir, f), results).get("general", {})
        help_file = general.get("helpfile", "helpen.chm")
        popup_file = general.get("popupfile", "popupen.txt")
        stem = os.path.splitext(help_file)[0]
        results.check(os.path.isfile(os.path.join(help_dir, stem, "index.html")),
                      "%s names HelpFile=%s, but %s/index.html is missing" % (f, help_file, stem))
        results.check(os.path.isfile(os.path.join(help_dir, popup_file)),
                      "%s names PopupFile=%s, which is missing" % (f, popup_file))


def main(argv):
    if len(argv) not in (2, 3) or not all(os.path.isdir(a) for a in argv[1:]):
        print("usage: check_help.py HELP_DIR [UI_DIR]")
        return 2
    help_dir = os.path.abspath(argv[1])
    results = Results()
    languages = sorted(d for d in os.listdir(help_dir)
                       if os.path.isfile(os.path.join(help_dir, d, "index.html"))
                       or re.fullmatch(r"help\w+", d) and os.path.isdir(os.path.join(help_dir, d)))
    results.check(bool(languages), "no language directories in " + help_dir)
    found = {d: check_language(os.path.join(help_dir, d), results) for d in languages}
    if found:
        first = languages[0]
        pages, contexts = found[first]
        for d in languages[1:]:
            other_pages, other_contexts = found[d]
            results.check(set(other_pages) == set(pages), "%s and %s have different pages: %s"
                          % (first, d, sorted(set(other_pages) ^ set(pages))))
            for page in sorted(set(pages) & set(other_pages)):
                differ = sorted(pages[page] ^ other_pages[page])
                results.check(not differ, "%s/%s and %s/%s have different anchors: %s"
                              % (first, page, d, page, differ))
            results.check(other_contexts == contexts,
                          "%s/contexts.ini and %s/contexts.ini differ" % (first, d))
    check_popups(help_dir, results)
    check_language_files(help_dir, results)
    if len(argv) == 3:
        check_ui_names(help_dir, argv[2], results)
    print("%d passed, %d failed" % (results.passed, results.failed))
    return 1 if results.failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
