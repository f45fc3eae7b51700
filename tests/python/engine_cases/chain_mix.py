"""Generated filter chains over JSON context data: two to four filters in a row (sorting,
selecting, mapping, grouping, slicing, joining, counting), decided by Jinja2 and compared through
tojson. Where Jinja2 fails the engine must fail too."""

import random

from . import G

SEED = 99
COUNT = 300

CONTEXT = {
    "people": [
        {"name": "Ann", "team": "core", "age": 41, "tags": ["a", "b"], "lead": True},
        {"name": "bob", "team": "web", "age": 29, "tags": [], "lead": False},
        {"name": "Cy", "team": "core", "age": 35, "tags": ["b"], "lead": False},
        {"name": "dee", "team": "ops", "age": 29, "tags": ["c", "a"], "lead": True},
        {"name": "Eve", "team": "web", "age": 52, "tags": ["a"], "lead": False},
    ],
    "words": ["pear", "Apple", "fig", "apple", "Banana", "kiwi"],
    "nums": [5, 3, 8, 1, 9, 2, 7],
    "conf": {"b": 2, "a": 1, "C": 3, "d": 0},
}

# (source, filters that keep a list of records, filters that take records to plain values)
RECORD_STEPS = [
    "sort(attribute='age')",
    "sort(attribute='name')",
    "sort(attribute='team,name')",
    "sort(attribute='age', reverse=true)",
    "selectattr('lead')",
    "rejectattr('lead')",
    "selectattr('age', 'gt', 30)",
    "selectattr('team', 'eq', 'core')",
    "unique(attribute='team')",
    "batch(2)|map('first')",
    "slice(2)|map('last')",
    "reverse",
]
RECORD_EXITS = [
    "map(attribute='name')",
    "map(attribute='age')",
    "map(attribute='team')",
    "groupby('team')|map('first')",
    "groupby('age')|map('last')|map('length')",
    "sum(attribute='age')",
    "max(attribute='age')|attr('name')",
    "length",
    "map(attribute='tags')|map('length')",
    "map(attribute='name')|map('lower')",
]
PLAIN_STEPS = [
    "sort",
    "sort(reverse=true)",
    "sort(case_sensitive=true)",
    "unique",
    "reverse",
    "map('string')",
    "map('upper')",
    "batch(3)|map('join', '-')",
    "slice(2)|map('length')",
    "select('string')",
    "reject('number')",
]
NUMBER_STEPS = ["select('odd')", "reject('even')", "select('gt', 3)", "map('abs')"]
# Jinja2 returns generators from these; a template lists them before asking for a length or the
# last item, and so does the chain.
LAZY = (
    "map(",
    "select(",
    "reject(",
    "selectattr(",
    "rejectattr(",
    "unique",
    "reverse",
    "batch(",
    "slice(",
)
PLAIN_EXITS = [
    "join(',')",
    "first",
    "last",
    "length",
    "max",
    "min",
    "sum",
    "list",
    "join('|')|upper",
    "join|length",
]


def _chain(rng: random.Random) -> str:
    if rng.random() < 0.5:
        source = "people"
        steps = [rng.choice(RECORD_STEPS) for _ in range(rng.randint(0, 2))]
        steps.append(rng.choice(RECORD_EXITS))
    else:
        source = rng.choice(["words", "nums", "conf"])
        steps = []
    pool = PLAIN_STEPS + (NUMBER_STEPS if source == "nums" else [])
    steps += [rng.choice(pool) for _ in range(rng.randint(0, 2))]
    steps.append(rng.choice(PLAIN_EXITS))
    steps = [s + "|list" if s.split("|")[-1].startswith(LAZY) else s for s in steps]
    return source + "|" + "|".join(steps)


def _cases():
    rng = random.Random(SEED)
    for index in range(COUNT):
        chain = _chain(rng)
        # Lazy results (map, select, ...) become lists before tojson.
        yield G(f"chain_generated_{index:03d}", "{{{ (" + chain + ")|tojson }}}", CONTEXT)


CASES = list(_cases())
