"""A plain Python implementation of the module's twelve functions.

The model that the tests hold the module to: the differential tests
(bindings/tests/test_differential.py) call both with generated arguments, and
python/tests/test_reference_and_plain_checkers.py compares their tokens and
fields over generated names. The same contract as the extension module,
argument binding and conversion errors included, in the most direct Python
that says it. It shares no code with the module. `panic_type` is the module's
PanicException type when the caller knows it (an argument's conversion that
raises it resumes the panic), else None.

A UUID is read by its 36 characters alone, never by `uuid.UUID`, which takes
far more than the hyphenated form (braces, "urn:uuid:", no hyphens, and
whatever `int(..., 16)` takes: '_' between digits, a sign, spaces around).
"""

import math
import operator
import sys

HEX_DIGITS = set("0123456789abcdefABCDEF")
LOWER = set("abcdefghijklmnopqrstuvwxyz")
DIGITS = set("0123456789")

PARAMETERS = {
    "sum_as_string": ("a", "b"),
    "vrn_canonicalize": ("s",),
    "vrn_error_kind": ("s",),
    "vrn_build": ("service", "region", "org", "resource_type", "resource_id"),
    "vrn_service": ("s",),
    "vrn_region": ("s",),
    "vrn_org": ("s",),
    "vrn_resource_type": ("s",),
    "vrn_resource_id": ("s",),
    "mint_uuid7": ("unix_ms", "rand_hex"),
    "vrn_cedar_entity_type": ("s",),
    "vrn_cedar_entity_id": ("s",),
}


class VrnError(Exception):
    """A parse failure; `args[0]` is the token."""


# ---- the grammar ----------------------------------------------------------

def is_identifier(text):
    return all(seg and seg[0] in LOWER and all(c in LOWER or c in DIGITS for c in seg[1:])
               for seg in text.split("-"))


def is_region(text):
    return all(seg and all(c in LOWER or c in DIGITS for c in seg) for seg in text.split("-"))


def parse_uuid(text):
    """The 16 bytes of a hyphenated UUID text, or None."""
    if len(text) != 36:
        return None
    for i, c in enumerate(text):
        if (c != "-") if i in (8, 13, 18, 23) else (c not in HEX_DIGITS):
            return None
    return bytes.fromhex(text.replace("-", ""))


def uuid_text(raw):
    h = raw.hex()
    return f"{h[:8]}-{h[8:12]}-{h[12:16]}-{h[16:20]}-{h[20:]}"


def parse(text):
    """(service, region, org bytes or None, resource type, resource id bytes) or VrnError.

    `text` is a str that has a UTF-8 form; the limits count its UTF-8 bytes.
    Every allowed character is ASCII, so judging characters is judging bytes.
    """
    size = len(text.encode("utf-8"))
    if size == 0:
        raise VrnError("empty")
    if size > 512:
        raise VrnError("too-long")
    fields = text.split(":")
    if len(fields) != 6:
        raise VrnError("wrong-field-count")
    scheme, partition, service, region, org, path = fields
    if scheme != "vrn":
        raise VrnError("bad-scheme")
    if partition != "vlt":
        raise VrnError("bad-partition")
    if not is_identifier(service):
        raise VrnError("bad-service")
    if region and not is_region(region):
        raise VrnError("bad-region")
    org_value = None
    if org:
        org_value = parse_uuid(org)
        if org_value is None:
            raise VrnError("bad-org")
    if path.count("/") != 1:
        raise VrnError("bad-resource-path")
    resource_type, resource_id = path.split("/")
    if not is_identifier(resource_type):
        raise VrnError("bad-resource-type")
    id_value = parse_uuid(resource_id)
    if id_value is None:
        raise VrnError("bad-resource-id")
    return service, region, org_value, resource_type, id_value


def error_kind(text):
    """The token of the first failed check, or "" for a valid name."""
    try:
        parse(text)
    except VrnError as error:
        return error.args[0]
    return ""


def fields(text):
    """The five fields of a valid name as the module's queries give them."""
    service, region, org, resource_type, resource_id = parse(text)
    return {"service": service, "region": region, "org": uuid_text(org) if org is not None else "",
            "resource_type": resource_type, "resource_id": uuid_text(resource_id)}


def canonical(vrn):
    service, region, org, resource_type, resource_id = vrn
    org_text = uuid_text(org) if org is not None else ""
    return f"vrn:vlt:{service}:{region}:{org_text}:{resource_type}/{uuid_text(resource_id)}"


def pascal(token):
    return "".join(seg[0].upper() + seg[1:] for seg in token.split("-") if seg)


def mint(unix_ms, rand_hex):
    if len(rand_hex.encode("utf-8")) != 20 or not all(c in "0123456789abcdef" for c in rand_hex):
        raise ValueError("bad-rand-hex")
    if math.isnan(unix_ms) or math.isinf(unix_ms) or unix_ms < 0 or unix_ms >= 2.0**64 \
            or unix_ms != math.trunc(unix_ms):
        raise ValueError("bad-unix-ms")
    raw = bytearray(int(unix_ms).to_bytes(8, "big")[2:] + bytes.fromhex(rand_hex))
    raw[6] = 0x70 | (raw[6] & 0x0F)
    raw[8] = 0x80 | (raw[8] & 0x3F)
    return uuid_text(bytes(raw))


# ---- arguments ------------------------------------------------------------

def lenient(text):
    """UTF-8 text of a str, a lone surrogate shown as three U+FFFD."""
    return str.encode(text, "utf-8", "surrogatepass").decode("utf-8", "replace")


def bind(function, args, kwargs):
    """The objects bound to the parameters, in order, or the binding TypeError."""
    names = PARAMETERS[function]
    full = f"{function}()"
    if len(args) > len(names):
        raise TypeError(f"{full} takes {len(names)} positional arguments but {len(args)} were given")
    slots = list(args) + [None] * (len(names) - len(args))
    filled = [True] * len(args) + [False] * (len(names) - len(args))
    for name, value in kwargs.items():
        if name not in names:
            raise TypeError(f"{full} got an unexpected keyword argument '{lenient(name)}'")
        i = names.index(name)
        if filled[i]:
            raise TypeError(f"{full} got multiple values for argument '{name}'")
        slots[i], filled[i] = value, True
    missing = [f"'{n}'" for n, f in zip(names, filled) if not f]
    if missing:
        if len(missing) == 1:
            listed = missing[0]
        elif len(missing) == 2:
            listed = f"{missing[0]} and {missing[1]}"
        else:
            listed = ", ".join(missing[:-1]) + ", and " + missing[-1]
        noun = "argument" if len(missing) == 1 else "arguments"
        raise TypeError(f"{full} missing {len(missing)} required positional {noun}: {listed}")
    return slots


class ResumedPanic(Exception):
    """An argument's conversion raised the module's PanicException."""


# The module looks at an object's real type, never at a `__class__` it claims.
def is_a(obj, kind):
    return issubclass(type(obj), kind)


def qualname(kind):
    return type.__dict__["__qualname__"].__get__(kind)


def text_of(obj):
    if not is_a(obj, str):
        if obj is None:
            raise TypeError("'None' is not an instance of 'str'")
        raise TypeError(f"'{lenient(qualname(type(obj)))}' object is not an instance of 'str'")
    return str.__str__(obj)  # the str value; a subclass's __str__ is not called


def int_of(obj):
    value = int.__index__(obj) if is_a(obj, int) else operator.index(obj)
    if not -(2**63) <= value < 2**63:
        raise OverflowError("Python int too large to convert to C long")
    return value


def non_float_message(kind, result_kind):
    """The interpreter's own message for a __float__ that returns no float:
    CPython 3.15 names the type fully qualified and words it anew."""
    if sys.version_info >= (3, 15):
        module = kind.__module__
        name = kind.__qualname__ if module in ("builtins", "__main__") else f"{module}.{kind.__qualname__}"
        return f"{name}.__float__() must return a float, not {result_kind.__name__}"
    return f"{kind.__name__}.__float__ returned non-float (type {result_kind.__name__})"


def float_of(obj):
    if is_a(obj, float):
        return float.__float__(obj)
    convert = getattr(type(obj), "__float__", None)
    if convert is not None:
        result = convert(obj)
        if not is_a(result, float):
            raise TypeError(non_float_message(type(obj), type(result)))
        return float.__float__(result)
    if getattr(type(obj), "__index__", None) is not None:
        value = operator.index(obj)
        try:
            return float(value)
        except OverflowError:
            raise OverflowError("int too large to convert to float") from None
    raise TypeError(f"must be real number, not {type(obj).__name__}")


def convert(convert_one, obj, parameter, panic_type):
    try:
        return convert_one(obj)
    except BaseException as error:
        if panic_type is not None and type(error) is panic_type:
            try:
                message = str(error)
                if not is_a(message, str):
                    raise TypeError
                message = lenient(message)
            except BaseException:
                message = "Unwrapped panic from Python code"
            raise ResumedPanic(message) from None
        try:
            error.add_note(f"while processing '{parameter}'")
        except BaseException:
            pass
        raise


def call(function, args, kwargs, panic_type=None):
    """What the module's `function(*args, **kwargs)` returns; raises what it raises.

    A resumed panic surfaces as ResumedPanic(message); the module raises a new
    PanicException with that message instead.
    """
    slots = bind(function, args, kwargs)
    names = PARAMETERS[function]
    if function == "sum_as_string":
        a, b = (convert(int_of, slots[i], names[i], panic_type) for i in range(2))
        return str((a + b + 2**63) % 2**64 - 2**63)
    if function == "mint_uuid7":
        unix_ms = convert(float_of, slots[0], "unix_ms", panic_type)
        rand_hex = convert(text_of, slots[1], "rand_hex", panic_type)
        convert(lambda text: text.encode("utf-8"), rand_hex, "rand_hex", panic_type)
        return mint(unix_ms, rand_hex)
    texts = []
    for obj, name in zip(slots, names):
        text = convert(text_of, obj, name, panic_type)
        convert(lambda t: t.encode("utf-8"), text, name, panic_type)  # UnicodeEncodeError
        texts.append(text)
    if function == "vrn_build":
        service, region, org, resource_type, resource_id = texts
        texts = [f"vrn:vlt:{service}:{region}:{org}:{resource_type}/{resource_id}"]
    try:
        vrn = parse(texts[0])
    except VrnError as error:
        if function == "vrn_error_kind":
            return error.args[0]
        raise ValueError(error.args[0]) from None
    service, region, org, resource_type, resource_id = vrn
    return {
        "vrn_error_kind": lambda: "",
        "vrn_service": lambda: service,
        "vrn_region": lambda: region,
        "vrn_org": lambda: uuid_text(org) if org is not None else "",
        "vrn_resource_type": lambda: resource_type,
        "vrn_resource_id": lambda: uuid_text(resource_id),
        "vrn_canonicalize": lambda: canonical(vrn),
        "vrn_build": lambda: canonical(vrn),
        "vrn_cedar_entity_type": lambda: f"Vlt::{pascal(service)}::{pascal(resource_type)}",
        "vrn_cedar_entity_id": lambda: uuid_text(resource_id),
    }[function]()
