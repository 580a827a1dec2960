"""One line per bar for scripts/bench, which gathers them from every benchmark into one table:
BENCH|figure|our value|reference|ratio|bar|holds, SHORT, or "-" for a figure without a bar."""


def row(figure, value, reference, ratio, bar, holds):
    status = "-" if holds is None else ("holds" if holds else "SHORT")
    print(f"BENCH|{figure}|{value}|{reference}|{ratio}|{bar}|{status}", flush=True)
