#!/usr/bin/env python
# Huecraft Vireo: colour-grading assistant for the Color page of DaVinci Resolve.
# Resolve lists this file under Workspace > Scripts > Color.
import json
import os
import subprocess

import huecraft_ui_language as ui

SETTINGS = os.path.expanduser("~/.huecraft_vireo.json")


def load_settings():
    with open(SETTINGS, encoding="utf-8") as handle:
        return json.load(handle)


def main():
    settings = load_settings()
    texts = ui.catalog()
    resolve = app.GetResolve()  # noqa: F821 (provided by Resolve)
    project = resolve.GetProjectManager().GetCurrentProject()
    timeline = project.GetCurrentTimeline()
    if timeline is None:
        print(texts["no_timeline"])
        return
    item = timeline.GetCurrentVideoItem()
    command = [settings["python"], "grade", "--method", settings.get("method", "banded"),
               "--strength", str(settings.get("strength", 0.65)), "--lut-dir", settings["lut_dir"]]
    result = subprocess.run(command, capture_output=True, text=True, check=False)
    if result.returncode != 0:
        print(texts["engine_failed"])
        return
    lut = result.stdout.strip()
    item.SetLUT(settings.get("node_index", 1), lut)
    print(texts["applied"].format(lut=os.path.basename(lut)))


main()
