#!/usr/bin/python3
# Declares the settings of Kalvessa 100 taps on a server, on top of kalvessa100ctl --json: the
# tool does the work and says what it changed; this only asks it and reports.

DOCUMENTATION = r"""
module: kalvessa100_tap
short_description: Settings and firmware of Kalvessa 100 network taps
description:
  - Brings the taps attached to a host to the settings given, as C(kalvessa100ctl apply) does,
    and reports them as the fact C(kalvessa100_taps).
  - Generation 4 taps are read first and written only where they differ. Generation 3 taps
    cannot be read back, so every setting must be given and they are sent on every run
    (reported as changed, with a warning).
  - Without any setting, profile or firmware, only the facts are gathered.
options:
  tap:
    description: The tap, by interface (kvtap0) or MAC address. Without it and without I(all),
      the one tap attached.
    type: str
  all:
    description: Every tap attached.
    type: bool
    default: false
  profile:
    description: A settings file on the host (as C(kalvessa100ctl save-profile) writes it); the
      options below win over it.
    type: path
  filter:
    description: The packet filter; a field left out is left as the tap holds it.
    type: dict
    suboptions:
      enabled: {type: bool}
      match: {type: str, choices: [keep, discard]}
      eth_dst: {type: str}
      eth_src: {type: str}
      ethertype: {type: str}
      ip_proto: {type: str}
      ip_src: {type: str}
      ip_dst: {type: str}
  timestamps: {type: bool, description: Timestamp every captured frame.}
  crc_errors: {type: bool, description: Capture frames with a bad CRC.}
  fcs: {type: bool, description: Keep each frame's own FCS.}
  store:
    description: Also store the settings, so they survive a power cycle.
    type: bool
    default: false
  firmware:
    description: C(latest) writes the firmware this host's kalvessa100ctl carries into every
      chosen tap that runs an older one. Firmware is never written without it.
    type: str
    choices: [latest]
  executable:
    description: The kalvessa100ctl to run.
    type: path
    default: kalvessa100ctl
"""

EXAMPLES = r"""
- name: Capture servers' taps keep UDP from 192.168.1.0/24, stored
  kalvessa100_tap:
    all: true
    filter: {enabled: true, match: keep, ethertype: "08:00", ip_proto: udp, ip_src: 192.168.1.*}
    fcs: false
    store: true
"""

import json

from ansible.module_utils.basic import AnsibleModule

FILTER_KEYS = ("enabled", "match", "eth_dst", "eth_src", "ethertype", "ip_proto", "ip_src",
               "ip_dst")
SWITCHES = ("timestamps", "crc_errors", "fcs")
# The filter's switch is --filter on the command line, "filter.enabled" in a settings file.
OPTION_OF = {"enabled": "filter"}


class ToolFailed(Exception):
    def __init__(self, message, rc, stderr=""):
        super().__init__(message)
        self.rc = rc
        self.stderr = stderr


def option_value(value):
    if isinstance(value, bool):
        return "on" if value else "off"
    return str(value)


def setting_arguments(params):
    arguments = []
    for key in FILTER_KEYS:
        value = (params["filter"] or {}).get(key)
        if value is not None:
            arguments.append("--%s=%s" % (OPTION_OF.get(key, key).replace("_", "-"),
                                          option_value(value)))
    for key in SWITCHES:
        if params[key] is not None:
            arguments.append("--%s=%s" % (key.replace("_", "-"), option_value(params[key])))
    return arguments


def selector_arguments(params):
    if params["all"]:
        return ["--all"]
    return ["--tap", params["tap"]] if params["tap"] else []


class Tool:
    def __init__(self, module):
        self.module = module
        self.path = module.get_bin_path(module.params["executable"], required=True)

    def run(self, *arguments):
        """The tool's JSON document; ToolFailed with its own message when it fails."""
        document, failure = self.attempt(*arguments)
        if failure:
            raise failure
        return document

    def attempt(self, *arguments):
        """The tool's JSON document, and what failed (None when nothing did): a command that
        served several taps tells of each, those that worked too."""
        rc, out, err = self.module.run_command([self.path, "--json", "--quiet"] + list(arguments))
        try:
            document = json.loads(out) if out.strip() else {}
        except ValueError:
            return {}, ToolFailed("kalvessa100ctl printed no JSON: %s" % (err or out).strip(),
                                  rc, err)
        if not isinstance(document, dict):
            return {}, ToolFailed("kalvessa100ctl printed unexpected JSON", rc, err)
        if rc != 0:
            return document, ToolFailed(self.message_of(document, err), rc, err)
        return document, None

    @staticmethod
    def message_of(document, stderr):
        if "error" in document:
            return document["error"].get("message") or stderr.strip()
        # --all: each tap that failed says why.
        failed = [entry for entry in document.get("taps", []) if "error" in entry]
        if failed:
            return "\n".join("%s: %s" % (entry.get("interface"), entry["error"].get("message"))
                             for entry in failed)
        return stderr.strip() or "kalvessa100ctl failed"


def per_tap(document):
    """The results of a command that served one tap or several, as (interface, result) pairs."""
    if "taps" in document:
        return [(entry.get("interface"), entry.get("result", {})) for entry in document["taps"]]
    return [(document.get("interface"), document)]


def diff_of(interface, result):
    before, after = {}, {}
    for copy, changes in sorted(result.get("changes", {}).items()):
        for change in changes:
            key = change["key"] if copy == "working" else "stored." + change["key"]
            before[key] = change["from"]
            after[key] = change["to"]
    if not result.get("compared", True):
        before = {"(cannot be read back)": True}
        after = result.get("settings", {})
    text = lambda d: "".join("%s: %s\n" % (k, json.dumps(v)) for k, v in sorted(d.items()))
    return {"before_header": interface, "after_header": interface,
            "before": text(before), "after": text(after)}


def apply_settings(module, tool, report):
    params = module.params
    arguments = ["apply"] + selector_arguments(params) + setting_arguments(params)
    if params["profile"]:
        arguments += ["--profile", params["profile"]]
    if params["store"]:
        arguments.append("--store")
    if module.check_mode:
        arguments.append("--check")
    document, failure = tool.attempt(*arguments)
    for interface, result in per_tap(document):
        if not result:
            continue  # this tap failed; the failure names it
        if not result.get("compared", True):
            report["warnings"].append(
                "%s runs generation %s, which cannot be read back: its settings %s on every "
                "run, so it is always reported as changed."
                % (interface, result.get("generation"),
                   "would be sent" if module.check_mode else "are sent"))
        # A tap that answers nothing confirms nothing: what was sent still counts as a change.
        wrote = result.get("changed") if module.check_mode else result.get(
            "sent", result.get("written"))
        if wrote and not module.check_mode and not result.get("confirmed", True):
            report["warnings"].append(
                "%s: settings sent; the tap cannot confirm it (it answers nothing)." % interface)
        if wrote:
            report["changed"] = True
            report["diff"].append(diff_of(interface, result))
        report["taps"].append({"interface": interface, "changed": bool(wrote),
                               "changes": result.get("changes"),
                               "settings": result.get("settings")})
    if failure:
        raise failure


def chosen(params, entry):
    if params["all"]:
        return True
    if not params["tap"]:
        return True
    wanted = params["tap"].lower().replace("-", ":")
    return wanted in (entry.get("interface", "").lower(), entry.get("mac", ""))


def update_firmware(module, tool, report):
    listed = tool.run("list").get("taps", [])
    taps = [entry for entry in listed if chosen(module.params, entry)]
    if module.params["tap"] and not taps:
        # A MAC in another notation, or a tap the list cannot tell: the tool names it.
        taps = [{"interface": module.params["tap"], "update_available": "?"}]
    for entry in taps:
        if not entry.get("update_available"):
            continue
        report["changed"] = True
        report["diff"].append({"before_header": entry["interface"],
                               "after_header": entry["interface"],
                               "before": "firmware: %s\n" % entry.get("firmware_version"),
                               "after": "firmware: %s\n" % entry["update_available"]})
        if not module.check_mode:
            tool.run("update-firmware", "--yes", "--tap", entry["interface"])


NO_TAP = 3  # kalvessa100ctl's exit status when no tap is attached


def gather_facts(tool):
    listed, failure = tool.attempt("list")
    if failure and failure.rc == NO_TAP:
        return []
    if failure:
        raise failure
    listed = listed.get("taps", [])
    # A tap that cannot be read (generation 3, or held by the window) has no settings to show;
    # the others' still count.
    shown, _ = tool.attempt("show", "--all")
    settings = {}
    for entry in shown.get("taps", []):
        settings[entry.get("interface")] = (entry.get("result"),
                                            entry.get("error", {}).get("message"))
    for entry in listed:
        entry["settings"], entry["settings_unknown_because"] = \
            settings.get(entry.get("interface"), (None, None))
    return listed


def main():
    filter_spec = {key: {"type": "str"} for key in FILTER_KEYS}
    filter_spec["enabled"] = {"type": "bool"}
    filter_spec["match"] = {"type": "str", "choices": ["keep", "discard"]}
    module = AnsibleModule(
        argument_spec={
            "tap": {"type": "str"},
            "all": {"type": "bool", "default": False},
            "profile": {"type": "path"},
            "filter": {"type": "dict", "options": filter_spec},
            "timestamps": {"type": "bool"},
            "crc_errors": {"type": "bool"},
            "fcs": {"type": "bool"},
            "store": {"type": "bool", "default": False},
            "firmware": {"type": "str", "choices": ["latest"]},
            "executable": {"type": "path", "default": "kalvessa100ctl"},
        },
        mutually_exclusive=[("tap", "all")],
        supports_check_mode=True,
    )
    params = module.params
    tool = Tool(module)
    report = {"changed": False, "diff": [], "taps": [], "warnings": []}
    gives_settings = params["profile"] or setting_arguments(params)
    try:
        if params["firmware"] == "latest":
            update_firmware(module, tool, report)
        if gives_settings:
            apply_settings(module, tool, report)
        elif params["store"]:
            module.fail_json(msg="store needs settings to store: give options or a profile.")
        facts = gather_facts(tool)
    except ToolFailed as failure:
        module.fail_json(msg=str(failure), rc=failure.rc, stderr=failure.stderr,
                         changed=report["changed"])
    for warning in report.pop("warnings"):
        module.warn(warning)
    module.exit_json(ansible_facts={"kalvessa100_taps": facts}, **report)


if __name__ == "__main__":
    main()
