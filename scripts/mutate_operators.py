# One-line fault operators for the seeded-fault runner: each turns a line of C++ into faulty variants.
import re

# Binary operators are spaced by the formatter, so a spaced operator is never a
# template bracket, a pointer arrow or a stream.
_COMPARE_FLIP = {" < ": " > ", " > ": " < ", " <= ": " >= ", " >= ": " <= ",
                 " == ": " != ", " != ": " == "}
_COMPARE_EDGE = {" < ": " <= ", " > ": " >= ", " <= ": " < ", " >= ": " > "}
_ARITHMETIC = {" + ": " - ", " - ": " + ", " += ": " -= ", " -= ": " += "}

_STRING_OR_CHAR = re.compile(r'"(?:\\.|[^"\\])*"|\'(?:\\.|[^\'\\])*\'')
_INTEGER = re.compile(r"(?<![\w.])(\d+)(u|U|ull|ULL|ul|UL|z)?(?![\w.])")
_FLOAT = re.compile(r"(?<![\w.])(\d+\.\d*)(f?)(?![\w.])")
_CALL_TWO_ARGS = re.compile(r"\b(\w+)\(([\w.\->\[\]]+), ([\w.\->\[\]]+)([,)])")
_DECLARATION = re.compile(
    r"^\s*(static\s+|const\s+|constexpr\s+|inline\s+)*[\w:]+(<[^;=()]*>)?[\s*&]+\w+(\[[^]]*\])?"
    r"\s*(=|\{|;)")
# A text colour's numbers only tint pixels, as the layout-only calls the runner skips do.
_TEXT_COLOUR = re.compile(r"(ImGui::TextColored\(ImVec4\()([^()]*)")
_FUNCTION_START = re.compile(r"^(static\s+)?(void|bool)\s+[\w:]+\(.*\)\s*(const\s*)?\{$")


def _masked(line):
    """The line with string and character literals, text colours and any trailing comment
    blanked out, so operators are only looked for in code that decides something."""
    masked = _STRING_OR_CHAR.sub(lambda m: "_" * len(m.group(0)), line)
    comment = masked.find("//")
    if comment >= 0:
        masked = masked[:comment] + " " * (len(masked) - comment)
    return _TEXT_COLOUR.sub(lambda m: m.group(1) + "_" * len(m.group(2)), masked)


def ends_statement(line):
    """True when the next line of code begins a new statement."""
    code = _masked(line).strip()
    return not code or code.endswith((";", "{", "}", ":")) or code.startswith("#")


def is_code_line(line):
    stripped = line.strip()
    if not stripped or stripped.startswith(("//", "#", "*", "/*")):
        return False
    if stripped.startswith(("static_assert", "namespace", "using ", "template", "case ")):
        return False
    return stripped not in ("{", "}", "};", "} else {", "public:", "private:", "protected:")


def _replace_spaced(line, masked, table, name):
    for op, replacement in table.items():
        start = 0
        while True:
            at = masked.find(op, start)
            if at < 0:
                break
            # " <= " also contains " < " only when followed by '='; keep ops whole.
            # Strings are joined with + but never subtracted: that fault would not build.
            if '"' not in (line[at - 1:at], line[at + len(op):at + len(op) + 1]):
                yield name, line[:at] + replacement + line[at + len(op):]
            start = at + 1


def _is_assignment(masked, i):
    return masked[i] == "=" and masked[i - 1:i] not in ("=", "!", "<", ">") and \
        masked[i + 1:i + 2] != "="


def _operand_end(masked, at, step):
    """Walks from `at` in direction `step` over one operand of && or ||: stops at an
    unbalanced bracket, another logical operator, an assignment, `return`, or the end of
    the expression."""
    opening, closing = ("([{", ")]}") if step > 0 else (")]}", "([{")
    depth = 0
    i = at
    while 0 <= i < len(masked):
        c = masked[i]
        if c in opening:
            depth += 1
        elif c in closing:
            if depth == 0:
                return i
            depth -= 1
        elif depth == 0:
            scope = c == ":" and ":" in (masked[i - 1:i], masked[i + 1:i + 2])
            if (c in ";,?:" and not scope) or _is_assignment(masked, i):
                return i
            pair = masked[i:i + 2] if step > 0 else masked[i - 1:i + 1]
            if pair in ("&&", "||"):
                return i if step > 0 else i - 1
            if step < 0 and re.search(r"\breturn $", masked[:i + 1]):
                return i
        i += step
    return i


def _drop_clause(line, masked):
    for op in (" && ", " || "):
        start = 0
        while True:
            at = masked.find(op, start)
            if at < 0:
                break
            left = _operand_end(masked, at - 1, -1) + 1
            right = _operand_end(masked, at + len(op), +1)
            left_text = line[left:at].strip()
            right_text = line[at + len(op):right].strip()
            if left_text and right_text:
                yield "drop-clause", line[:left] + line[left:at].rstrip() + line[right:]
                lead = line[left:at][:len(line[left:at]) - len(line[left:at].lstrip())]
                yield "drop-clause", line[:left] + lead + line[at + len(op):]
            start = at + 1


def _constants(line, masked):
    for match in _INTEGER.finditer(masked):
        value = int(match.group(1))
        text = str(value + 1) if value == 0 else str(value - 1)
        yield "constant", line[:match.start(1)] + text + line[match.end(1):]
    for match in _FLOAT.finditer(masked):
        value = float(match.group(1))
        yield "constant", line[:match.start(1)] + repr(value + 1.0) + line[match.end(1):]


def _delete_statement(line, masked, starts_statement):
    stripped = masked.strip()
    if not starts_statement:
        return
    if not stripped.endswith(";") or stripped.startswith(("return", "break", "continue")):
        return
    if _DECLARATION.match(masked) and not re.match(r"^\s*[\w.\->\[\]]+\s*[-+*/|&]?=", masked):
        return
    if stripped.count("(") != stripped.count(")"):
        return
    indent = line[:len(line) - len(line.lstrip())]
    yield "delete-statement", indent + ";"


def _swap_arguments(line, masked):
    for match in _CALL_TWO_ARGS.finditer(masked):
        first, second = match.group(2), match.group(3)
        if first == second or match.group(1) in ("if", "while", "for", "switch", "return"):
            continue
        # std::clamp(v, lo, hi) is min(max(v, lo), hi): its first two trade places freely.
        if match.group(1) == "clamp" and match.group(4) == ",":
            continue
        a, b = match.start(2), match.end(3)
        yield "swap-arguments", line[:a] + line[match.start(3):b] + ", " + line[a:match.end(2)] + \
            line[b:]


def _return_early(line, masked):
    match = _FUNCTION_START.match(masked.rstrip())
    if not match:
        return
    if match.group(2) == "void":
        yield "return-early", line.rstrip() + " return;"
    else:
        yield "return-early", line.rstrip() + " return false;"
        yield "return-early", line.rstrip() + " return true;"


def mutants(line, starts_statement=True):
    """Every faulty variant of one line as (operator, new line), without duplicates.
    `starts_statement` is false for a line that continues the previous one."""
    if not is_code_line(line):
        return []
    masked = _masked(line)
    found = []
    found += _replace_spaced(line, masked, _COMPARE_FLIP, "flip-comparison")
    found += _replace_spaced(line, masked, _COMPARE_EDGE, "comparison-edge")
    found += _replace_spaced(line, masked, _ARITHMETIC, "swap-arithmetic")
    found += _drop_clause(line, masked)
    found += _constants(line, masked)
    found += _delete_statement(line, masked, starts_statement)
    found += _swap_arguments(line, masked)
    found += _return_early(line, masked)
    seen = set()
    unique = []
    for name, new_line in found:
        if new_line != line and new_line not in seen:
            seen.add(new_line)
            unique.append((name, new_line))
    return unique
