#!/usr/bin/env python3
"""Fails when two test files of one unity-built test binary define the same file-local name.

The test binaries build as unity translation units of several files each, so names at namespace scope
(constants, variables, functions, types and unscoped enumerators, in an anonymous namespace, `static`,
or in a named namespace of the file) and macros meet the other files' names of the same binary. Which
files share a unit follows their order and the batch size; a clash kept apart today breaks the build
once a file is added. Functions whose parameter types differ overload one another and pass; a macro
defined again the same way passes.

usage: check-test-names.py STAMP [FILE...]   (STAMP is written when no name clashes)
"""
import re
import sys

# Comments, string and character literals (raw strings first), and preprocessor lines with their
# continuations: none of them declares a name the compiler sees at namespace scope here.
_LEXEME = re.compile(
    r'(?P<raw>(?:u8|[uUL])?R"(?P<delim>[^()\\\s]{0,16})\((?:.|\n)*?\)(?P=delim)")'
    r'|(?P<line>//[^\n]*)'
    r'|(?P<block>/\*(?:.|\n)*?\*/)'
    r'|(?P<str>(?:u8|[uUL])?"(?:\\.|[^"\\\n])*")'
    r"|(?P<chr>(?:u8|[uUL])?'(?:\\.|[^'\\\n])+')"
    r'|(?P<pp>^[ \t]*#(?:\\\n|[^\n])*)',
    re.MULTILINE)

_IDENT = re.compile(r'[A-Za-z_]\w*')
_KEYWORDS = {
    'const', 'constexpr', 'constinit', 'static', 'inline', 'extern', 'thread_local', 'volatile', 'mutable',
    'unsigned', 'signed', 'int', 'long', 'short', 'char', 'bool', 'float', 'double', 'void', 'auto',
    'struct', 'class', 'union', 'enum', 'typename', 'template', 'final', 'noexcept', 'override',
    'operator', 'decltype', 'sizeof', 'alignas',
}
_TYPE_HEAD = re.compile(r'^(?:class|struct|union|enum(?:\s+(?:class|struct))?)\s+(?:alignas\s*\([^)]*\)\s*)?'
                        r'([A-Za-z_]\w*)\b(?!\s*::)')
# Test-framework macros that define a class named by their first argument.
_MATCHER = re.compile(r'^MATCHER(?:_P\d*)?\s*\(\s*([A-Za-z_]\w*)')
# An enum whose enumerators land in the enclosing namespace (`enum class` keeps them in its own).
_UNSCOPED_ENUM = re.compile(r'^enum\b(?!\s+(?:class|struct)\b)')
_DEFINE = re.compile(r'^[ \t]*#[ \t]*(define|undef)[ \t]+([A-Za-z_]\w*)(.*)', re.DOTALL)
# Comments inside a macro's body, and the string literals that may hold comment marks.
_BODY_COMMENT = re.compile(r'"(?:\\.|[^"\\])*"|//[^\n]*|/\*.*?\*/', re.DOTALL)
_ATTRIBUTE = re.compile(r'\[\[.*?\]\]|__attribute__\s*\(\((?:[^()]|\((?:[^()]|\([^()]*\))*\))*\)\)')
# Built-in type words that name a parameter's type on their own.
_TYPE_WORD = {'int', 'long', 'short', 'char', 'bool', 'float', 'double', 'void', 'auto', 'unsigned', 'signed'}


def _blank(match):
    # Keeps line breaks, so that a name's line stays right.
    return '\n' * match.group(0).count('\n') + ('""' if match.group('str') or match.group('raw') else ' ')


def _strip_templates(text):
    """`text` without a leading `template <...>` (nested brackets included) and attributes."""
    text = _ATTRIBUTE.sub(' ', text).strip()
    while text.startswith('template'):
        start = text.find('<')
        if start < 0:
            return text
        depth = 0
        for i in range(start, len(text)):
            if text[i] == '<':
                depth += 1
            elif text[i] == '>':
                depth -= 1
                if depth == 0:
                    text = text[i + 1:].strip()
                    break
        else:
            return text
    return text


def _top_level(text, stops):
    """Index of the first of `stops` outside (), [], {} and <>, or -1."""
    depth = 0
    for i, c in enumerate(text):
        if depth == 0 and c in stops:
            return i
        if c in '([{<':
            depth += 1
        elif c in ')]}>':
            depth = max(depth - 1, 0)
    return -1


def _split_top(text):
    parts, depth, last = [], 0, 0
    for i, c in enumerate(text):
        if c in '([{<':
            depth += 1
        elif c in ')]}>':
            depth = max(depth - 1, 0)
        elif c == ',' and depth == 0:
            parts.append(text[last:i])
            last = i + 1
    parts.append(text[last:])
    return parts


def _last_name(text):
    names = [n for n in _IDENT.findall(text) if n not in _KEYWORDS]
    return names[-1] if names else None


def _is_macro(name):
    return re.fullmatch(r'[A-Z0-9_]+', name) is not None and any(c.isalpha() for c in name)


def _is_initializer(inside):
    """Whether the text between a declarator's parentheses holds values rather than parameters."""
    for part in _split_top(inside):
        part = part.strip()
        if re.match(r'[\d"\'{\[(\-+!~&*]', part) or part in ('true', 'false', 'nullptr', 'this') \
                or re.search(r'(?<!\.)\.(?!\.)|->', part):
            return True
        if part.endswith(')') and not re.search(r'[*&]\s*\)', part):
            return True  # a call (a function pointer's parameter has `(*name)`)
        lone = re.fullmatch(r'(?:::)?(?:\w+::)*(\w+)', part)
        if lone and lone.group(1) not in _TYPE_WORD and not lone.group(1)[0].isupper() \
                and not lone.group(1).endswith('_t'):
            return True  # a value's name: types are capitalised, built in or `_t`
    return False


def _parameter_types(inside):
    """The parameter types of a parameter list, without names, defaults and top-level const."""
    types = []
    for part in _split_top(inside):
        cut = _top_level(part, '=')
        part = part if cut < 0 else part[:cut]
        array = re.search(r'(?:\[[^\]]*\]\s*)+$', part)  # an array parameter is a pointer
        # Qualifiers off: a file may name a type through a using-declaration where another spells it out.
        part = re.sub(r'(?:\b\w+\s*)?::\s*', '', part[:array.start()] if array else part)
        tokens = re.findall(r'\w+|\.\.\.|\S', part)
        if len(tokens) > 1 and re.fullmatch(r'[A-Za-z_]\w*', tokens[-1]) and tokens[-1] not in _KEYWORDS:
            tokens.pop()
        while tokens and tokens[-1] in ('const', 'volatile'):
            tokens.pop()
        if not {'*', '&'} & set(tokens):
            tokens = [t for t in tokens if t not in ('const', 'volatile')]
        types.append(' '.join(tokens + (['*'] if array else [])))
    return [] if types in ([''], ['void']) else types


def _signature(head):
    """A function head's template parameters and parameter types, which tell its overloads apart."""
    text = _ATTRIBUTE.sub(' ', head).strip()
    template = ' '.join(text[:len(text) - len(_strip_templates(text))].split())
    text = _strip_templates(text)
    start = _top_level(text, '(')
    depth = 0
    for end in range(start, len(text)):
        depth += {'(': 1, ')': -1}.get(text[end], 0)
        if depth == 0:
            break
    return template, tuple(_parameter_types(text[start + 1:end]))


def _function_name(head):
    """The name a function definition's head `... Name(parameters) ... ` defines, or None."""
    head = _strip_templates(head)
    paren = _top_level(head, '(')
    if paren < 0 or _top_level(head[:paren], '=') >= 0:
        return None
    before = head[:paren].rstrip()
    if 'operator' in before.split('::')[-1] or before.endswith('::'):
        return None
    match = re.search(r'(~?[A-Za-z_]\w*)$', before)
    if not match:
        return None
    name = match.group(1)
    prefix = before[:match.start()].rstrip()
    if prefix.endswith('::') or name.startswith('~') or _is_macro(name):
        return None  # a member defined outside its class, or a macro's use
    return name


def _declared_names(statement):
    """Names a namespace-scope declaration `statement` (no trailing `;`, bodies as `{}`) defines."""
    text = _strip_templates(statement)
    if not text or text.startswith(('using namespace', 'static_assert', 'friend', 'extern', 'namespace')):
        return []
    alias = re.match(r'^using\s+([A-Za-z_]\w*)\s*=(.*)$', text)
    if alias:
        return [(alias.group(1), ' '.join(alias.group(2).split()))]
    if text.startswith('using'):
        return []
    if text.startswith('typedef'):
        name = _last_name(text)
        return [name] if name else []
    if _TYPE_HEAD.match(text) and '{}' not in text:
        return []  # a declaration of a type, defined elsewhere
    matcher = _MATCHER.match(text)
    if matcher:
        return [matcher.group(1)]
    names = []
    for i, part in enumerate(_split_top(text)):
        cut = _top_level(part, '=[{(')
        declarator = part if cut < 0 else part[:cut]
        if i == 0 and cut >= 0 and part[cut] == '(':
            close = _top_level(part[cut + 1:], ')')
            prefix = re.sub(r'[A-Za-z_]\w*\s*$', '', declarator).rstrip()
            if not prefix or prefix.endswith('::') or close < 0 \
                    or not _is_initializer(part[cut + 1:cut + 1 + close]):
                return []  # a function's declaration (or a macro's use), not a definition
        name = _last_name(declarator)
        if name and not _is_macro(name):
            names.append(name)
    return names


def _macros(text):
    """[(line, name, (body, kept))] for each `#define` of `text`; kept: no later `#undef` of it."""
    found = []
    for match in _LEXEME.finditer(text):
        directive = _DEFINE.match(match.group('pp') or '')
        if not directive:
            continue
        kind, name, body = directive.groups()
        if kind == 'undef':
            found = [(at, n, (b, False) if n == name else (b, kept)) for at, n, (b, kept) in found]
            continue
        body = _BODY_COMMENT.sub(lambda m: m.group(0) if m.group(0).startswith('"') else ' ',
                                 body.replace('\\\n', ' '))
        # A function-like macro's `(` touches its name, so the leading space stays; a run of spaces is one.
        body = re.sub(r'\s+', ' ', body).rstrip()
        found.append((text.count('\n', 0, match.start()) + 1, name, (body, True)))
    return found


def file_local_names(path):
    """[((namespace path, name), line, kind, detail)] for the names `path` defines at namespace scope.

    kind is 'name', 'alias' (detail: the aliased type), 'function' (detail: its signature) or 'macro'
    (namespace path None; detail: its body, and whether it stays defined past the file's end).
    """
    with open(path, encoding='utf-8', errors='replace') as source:
        raw = source.read()
    text = _LEXEME.sub(_blank, raw)
    names = {}
    scopes = []  # per open brace: a namespace's name ('' anonymous), None for a body, 'extern'
    statement, statement_line = [], 1
    body_depth = 0  # braces open inside a namespace-scope statement
    function_body = False
    enum_body, enum_line = None, 0  # an unscoped enum's body text while it is read
    line = 1

    def namespace_path():
        return '::'.join(s for s in scopes if s not in ('', 'extern'))

    def define(found, at, kind='name', detail=None):
        for name in found:
            # An alias comes with what it names: the same alias twice is one declaration, no clash.
            entry = (name[0], 'alias', name[1]) if isinstance(name, tuple) else (name, kind, detail)
            names.setdefault(((namespace_path(), entry[0]), entry[1], entry[2]), at)

    for token in re.finditer(r'[{};\n]|[^{};\n]+', text):
        value = token.group(0)
        if value == '\n':
            line += 1
            if body_depth == 0:
                statement.append(' ')
            elif enum_body is not None:
                enum_body.append('\n')
            continue
        if body_depth:
            if value == '{':
                body_depth += 1
            elif value == '}':
                body_depth -= 1
                if body_depth == 0:
                    statement.append('{}')
                    if function_body:
                        statement, function_body = [], False
            if enum_body is not None and body_depth == 0:
                body, offset = ''.join(enum_body), 0
                for part in _split_top(body):
                    enumerator = re.match(r'\s*([A-Za-z_]\w*)', part)
                    if enumerator:
                        at = enum_line + body.count('\n', 0, offset + enumerator.start(1))
                        define([enumerator.group(1)], at)
                    offset += len(part) + 1
                enum_body = None
            elif enum_body is not None:
                enum_body.append(value)
            continue
        if value == '{':
            head = ''.join(statement).strip()
            namespace = re.fullmatch(r'(?:inline\s+)?namespace(?:\s+([\w:]+))?', head)
            if namespace:
                scopes.append(namespace.group(1) or '')
                statement = []
            elif re.fullmatch(r'extern\s*""', head):
                scopes.append('extern')
                statement = []
            else:
                type_head = _TYPE_HEAD.match(_strip_templates(head))
                function = None if type_head else _function_name(head)
                if type_head:
                    define([type_head.group(1)], statement_line)
                elif _MATCHER.match(head):
                    define([_MATCHER.match(head).group(1)], statement_line)
                elif function:
                    define([function], statement_line, 'function', _signature(head))
                if _UNSCOPED_ENUM.match(head):
                    enum_body, enum_line = [], line
                function_body = function is not None or _MATCHER.match(head) is not None or \
                    (not type_head and _top_level(head, '=') < 0 and head.endswith(')'))
                body_depth = 1
        elif value == '}':
            if scopes:
                scopes.pop()
            statement = []
        elif value == ';':
            head = ''.join(statement).strip()
            type_head = _TYPE_HEAD.match(_strip_templates(head))
            if type_head and '{}' in head:
                define(_declared_names(head[head.rfind('{}') + 2:]), statement_line)
            else:
                define(_declared_names(head), statement_line)
            statement = []
        else:
            if not ''.join(statement).strip():
                statement_line = line
            statement.append(value)
    found = [(key, at, kind, detail) for (key, kind, detail), at in names.items()]
    return found + [((None, name), at, 'macro', detail) for at, name, detail in _macros(raw)]


def _clash(kind, detail, other_kind, other_detail):
    if kind != other_kind:
        return True
    if kind == 'function':
        return detail == other_detail  # overloads differ in their parameter types
    if kind == 'macro':
        # The same body again is no redefinition; two that each undefine theirs never meet.
        return detail[0] != other_detail[0] and (detail[1] or other_detail[1])
    return kind == 'name' or detail != other_detail


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    # A binary whose files all build alone gives no file: nothing can clash.
    stamp, files = argv[1], sorted(set(argv[2:]))
    seen = {}  # (namespace path, name): [(path, line, kind, detail)] of the files before
    clashes = []
    for path in files:
        found = sorted(file_local_names(path), key=lambda entry: entry[1])
        for key, line, kind, detail in found:
            first = next((s for s in seen.get(key, []) if _clash(kind, detail, s[2], s[3])), None)
            if first:
                clashes.append((key, first, (path, line)))
        for key, line, kind, detail in found:
            seen.setdefault(key, []).append((path, line, kind, detail))
    for (namespace, name), (first, first_line, _, _), (second, second_line) in clashes:
        shown = 'macro ' + name if namespace is None else namespace + '::' + name if namespace else name
        print(f'{second}:{second_line}: error: the file-local name {shown} is defined in two test files of one '
              f'binary, here and in {first}:{first_line}: the unity build may put them in one unit. '
              f'Name them apart.', file=sys.stderr)
    if clashes:
        return 1
    with open(stamp, 'w') as out:
        out.write('')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
