# Interface texts of Huecraft Vireo, chosen by the system language.
import json
import locale
import os

_CATALOG = os.path.join(os.path.dirname(os.path.abspath(__file__)), "huecraft_ui_catalog.json")


def language():
    code = (locale.getlocale()[0] or "en").split("_")[0]
    return code if code in ("de", "en") else "en"


def catalog():
    with open(_CATALOG, encoding="utf-8") as handle:
        return json.load(handle)[language()]
