#!/usr/bin/env python3
"""Checks the skin's translatable texts: multi_language.tsv and language/downloader_*.xml.

Usage: check-skin-text.py [SKIN_DIR]   (default: resources/skin of this repository)
Prints one line per problem and exits 1 when there is any; prints a summary and exits 0 otherwise.
"""
import os
import sys
import xml.etree.ElementTree as ET

CODES = ["zh_CN", "zh_TW", "en_US", "ko_KR", "vi_VN", "th_TH", "in_ID", "ja_JP", "ru_RU", "pt_PT",
         "es_ES", "ar_IL", "tr_TR", "fr_FR", "de_DE", "it_IT", "fa_IR", "ms_MY", "uk_UA"]
NAMES = ["简体中文", "繁體中文", "English", "한국어", "Tiếng Việt", "ไทย", "Indonesia", "日本語", "Русский",
         "Português", "Español", "العربية", "Türkçe", "Français", "Deutsch", "Italiano", "فارسی",
         "Malaysia", "Українська"]
KEYS = ["Title_wndTitle", "Label_installing_waiting", "Label_getversion_info", "Label_downloading",
        "Button_install_now", "Button_install_fast", "Button_start_player", "MsgBox_error",
        "MsgBox_accept_protocol", "MsgBox_error_path", "MsgBox_disk_notEnough", "Label_choice_path",
        "MSGBox_noice", "MsgBox_exit", "sure", "cancel", "browser", "Label_path_error",
        "Button_install_define", "Button_install_back", "protocol_accept", "protocol_accept_btn",
        "progress_downloading_label", "progress_downloading_label2", "progress_download_label",
        "progress_install_label", "progress_finish_label", "Label_installingapp_waiting", "homepage",
        "error", "download_error_content", "go_homePage", "installing_exit_tip", "Reject", "Accept",
        "Yes", "No", "accept_protocol", "titlename", "installSucess", "googleDriver_downloadingPage",
        "googleDriver_downloadLow", "googleDriver_downloadError", "install_error_tip",
        "download_error_tip", "reDownload", "download_error_tip2", "downloadBybrowser",
        "download_slowtip", "download_close", "facebook_tip", "minimize_tip"]
# Bundle code -> table column it must agree with.
BUNDLES = {"ar": "ar_IL", "cn": "zh_CN", "de": "de_DE", "en": "en_US", "es": "es_ES", "fa": "fa_IR",
           "fr": "fr_FR", "id": "in_ID", "jp": "ja_JP", "kr": "ko_KR", "pt": "pt_PT", "ru": "ru_RU",
           "th": "th_TH", "tr": "tr_TR", "tw": "zh_TW", "vn": "vi_VN"}
BUNDLE_IDS = [k for k in KEYS if k not in ("facebook_tip", "minimize_tip")] + ["facebook"]
BOM = b"\xef\xbb\xbf"
MAX_CELL = 123
# The one bundle text that deliberately differs from its table cell: the link is underlined.
EN_UNDERLINE = ("protocol_accept_btn", "<u>Licensing Protocol</u>")

problems = []


def fail(msg):
    problems.append(msg)


def check_table(path):
    """Returns {column code: {key: text}} for the bundle comparison, or None when unusable."""
    try:
        raw = open(path, "rb").read()
    except OSError as e:
        fail("%s: cannot read: %s" % (path, e))
        return None
    if raw.startswith(BOM):
        fail("%s: starts with a byte-order mark" % path)
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as e:
        fail("%s: not UTF-8: %s" % (path, e))
        return None
    if not text.endswith("\r\n"):
        fail("%s: last line is not ended by CRLF" % path)
    body = text[:-2] if text.endswith("\r\n") else text
    lines = body.split("\r\n")
    for n, line in enumerate(lines, 1):
        if "\r" in line or "\n" in line:
            fail("%s:%d: bare CR or LF (lines must end with CRLF)" % (path, n))
    if len(lines) != 2 + len(KEYS):
        fail("%s: %d lines, expected %d" % (path, len(lines), 2 + len(KEYS)))
    rows = [line.split("\t") for line in lines]
    width = 2 + len(CODES)
    for n, cells in enumerate(rows, 1):
        if len(cells) != width:
            fail("%s:%d: %d cells, expected %d" % (path, n, len(cells), width))
        for c, cell in enumerate(cells):
            if not cell:
                fail("%s:%d: cell %d is empty" % (path, n, c))
            elif len(cell) > MAX_CELL:
                fail("%s:%d: cell %d has %d characters (max %d)" % (path, n, c, len(cell), MAX_CELL))
    if rows and rows[0] != ["Code", "language_code"] + CODES:
        fail("%s:1: header line differs from the expected language codes" % path)
    if len(rows) > 1 and rows[1] != ["Language", "language_name"] + NAMES:
        fail("%s:2: names line differs from the expected display names" % path)
    keys = [cells[1] if len(cells) > 1 else "" for cells in rows[2:]]
    if keys != KEYS:
        for n, (got, want) in enumerate(zip(keys, KEYS), 3):
            if got != want:
                fail("%s:%d: key %r, expected %r" % (path, n, got, want))
                break
        else:
            fail("%s: keys differ from the expected list" % path)
    for n, cells in enumerate(rows[2:], 3):
        if cells and cells[0] != "Label":
            fail("%s:%d: kind cell %r, expected 'Label'" % (path, n, cells[0]))
        if len(cells) > 1 and cells[1] == "facebook_tip" and any(c != "Facebook" for c in cells[2:]):
            fail("%s:%d: facebook_tip must read 'Facebook' in every column" % (path, n))
    columns = {}
    for i, code in enumerate(CODES, 2):
        columns[code] = {cells[1]: cells[i] for cells in rows[2:] if len(cells) == width}
    return columns


def check_bundle(path, code, columns):
    try:
        raw = open(path, "rb").read()
    except OSError as e:
        fail("%s: cannot read: %s" % (path, e))
        return
    has_bom = raw.startswith(BOM)
    if code == "kr" and not has_bom:
        fail("%s: must start with a UTF-8 byte-order mark" % path)
    if code != "kr" and has_bom:
        fail("%s: must not start with a byte-order mark" % path)
    body = raw[len(BOM):] if has_bom else raw
    if not body.startswith(b'<?xml version="1.0" encoding="utf-8"?>'):
        fail("%s: does not start with the XML declaration" % path)
    try:
        root = ET.fromstring(body)
    except ET.ParseError as e:
        fail("%s: not well formed: %s" % (path, e))
        return
    if root.tag != "StringBundle" or root.get("ver") != "100":
        fail("%s: root is <%s ver=%r>, expected <StringBundle ver='100'>" % (path, root.tag, root.get("ver")))
    seen = {}
    for el in root:
        if el.tag != "String":
            fail("%s: unexpected element <%s>" % (path, el.tag))
            continue
        sid = el.get("id")
        if not sid:
            fail("%s: <String> without id" % path)
            continue
        if sid in seen:
            fail("%s: id %r appears more than once" % (path, sid))
        if not el.text:
            fail("%s: id %r has no text" % (path, sid))
        seen[sid] = el.text or ""
    if list(seen) != BUNDLE_IDS:
        missing = [i for i in BUNDLE_IDS if i not in seen]
        extra = [i for i in seen if i not in BUNDLE_IDS]
        if missing or extra:
            fail("%s: missing ids %s, unexpected ids %s" % (path, missing, extra))
        else:
            fail("%s: ids are not in the table's order" % path)
    if seen.get("facebook", "Facebook") != "Facebook":
        fail("%s: id 'facebook' must read 'Facebook'" % path)
    if columns is None:
        return
    column = columns.get(BUNDLES[code], {})
    for sid, text in seen.items():
        if sid not in column:
            continue
        want = column[sid]
        if code == "en" and sid == EN_UNDERLINE[0]:
            want = EN_UNDERLINE[1]
        if text != want:
            fail("%s: id %r reads %r, the %s column has %r" % (path, sid, text, BUNDLES[code], want))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    skin = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources", "skin")
    columns = check_table(os.path.join(skin, "multi_language.tsv"))
    for code in sorted(BUNDLES):
        check_bundle(os.path.join(skin, "language", "downloader_%s.xml" % code), code, columns)
    if problems:
        for p in problems:
            print(p, file=sys.stderr)
        print("skin text check FAILED: %d problem(s)" % len(problems), file=sys.stderr)
        return 1
    print("skin text OK: multi_language.tsv (%d lines x %d cells), %d bundles x %d ids"
          % (2 + len(KEYS), 2 + len(CODES), len(BUNDLES), len(BUNDLE_IDS)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
