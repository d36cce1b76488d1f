"""The rows the VM speed scripts print, "NAME <real ms> <user ms> <system ms> <exit status>" (the
name then TimeRun's line), gathered by name in the order they came."""


def read_rows(path):
    rows = {}
    for line in open(path):
        parts = line.split()
        if len(parts) != 5:
            continue
        try:
            row = [float(x) for x in parts[1:4]] + [int(parts[4])]
        except ValueError:
            continue
        rows.setdefault(parts[0], []).append(row)
    return rows
