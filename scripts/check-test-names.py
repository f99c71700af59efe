#!/usr/bin/env python3
"""Fails when two test files of one unity-built test binary define the same file-local name.

The test binaries build as unity translation units of several files each, so names at namespace scope
(constants, variables, functions and types, in an anonymous namespace, `static`, or in a named
namespace of the file) meet the other files' names of the same binary. Which files share a unit
follows their order and the batch size; a clash kept apart today breaks the build once a file is added.

usage: check-test-names.py STAMP FILE...   (STAMP is written when no name clashes)
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


def _blank(match):
    # Keeps line breaks, so that a name's line stays right.
    return '\n' * match.group(0).count('\n') + ('""' if match.group('str') or match.group('raw') else ' ')


def _strip_templates(text):
    """`text` without a leading `template <...>` (nested brackets included) and attributes."""
    text = re.sub(r'\[\[.*?\]\]', ' ', text).strip()
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
            return []  # a function's declaration (or a macro's use), not a definition
        name = _last_name(declarator)
        if name and not _is_macro(name):
            names.append(name)
    return names


def file_local_names(path):
    """{(namespace path, name): (line, aliased type or None)} for the names `path` defines at namespace scope."""
    with open(path, encoding='utf-8', errors='replace') as source:
        text = _LEXEME.sub(_blank, source.read())
    names = {}
    scopes = []  # per open brace: a namespace's name ('' anonymous), None for a body, 'extern'
    statement, statement_line = [], 1
    body_depth = 0  # braces open inside a namespace-scope statement
    function_body = False
    line = 1

    def namespace_path():
        return '::'.join(s for s in scopes if s not in ('', 'extern'))

    def define(found, at):
        for name in found:
            # An alias comes with what it names: the same alias twice is one declaration, no clash.
            name, aliased = name if isinstance(name, tuple) else (name, None)
            names.setdefault((namespace_path(), name), (at, aliased))

    for token in re.finditer(r'[{};\n]|[^{};\n]+', text):
        value = token.group(0)
        if value == '\n':
            line += 1
            if body_depth == 0:
                statement.append(' ')
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
                    define([function], statement_line)
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
    return names


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    stamp, files = argv[1], sorted(set(argv[2:]))
    seen = {}
    clashes = []
    for path in files:
        for key, (line, aliased) in sorted(file_local_names(path).items(), key=lambda item: item[1][0]):
            if key not in seen:
                seen[key] = (path, line, aliased)
            elif aliased is None or seen[key][2] != aliased:
                clashes.append((key, seen[key], (path, line)))
    for (namespace, name), (first, first_line, _), (second, second_line) in clashes:
        shown = namespace + '::' + name if namespace else name
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
