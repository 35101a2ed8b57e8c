#!/usr/bin/python3
"""Writes the per-message tables of the message runtime from the schema.

Input: a descriptor set of the wire schema (protoc --descriptor_set_out).
Output: MessageTypes.h (one MessageType constant per message) and
MessageTables.cpp (their slot tables, bound to the nanopb descriptors).

A field's slot is its position in the declaration order of its message, so
the schema alone fixes the slots; the nanopb descriptors list the same fields
sorted by tag, and each table records which slot every descriptor entry is.
"""

import argparse
import sys

from types import SimpleNamespace

# The few numbers of the descriptor-set format this generator reads (field
# numbers, types and labels of descriptor.proto). Reading them by hand keeps
# the build free of a protocol-buffer runtime for Python.
FD = SimpleNamespace(
    TYPE_DOUBLE=1, TYPE_FLOAT=2, TYPE_INT64=3, TYPE_UINT64=4, TYPE_INT32=5,
    TYPE_BOOL=8, TYPE_STRING=9, TYPE_MESSAGE=11, TYPE_BYTES=12, TYPE_UINT32=13,
    TYPE_ENUM=14, LABEL_OPTIONAL=1, LABEL_REPEATED=3)


def read_fields(data):
    """Yields (field number, wire type, value) of one encoded message."""
    pos = 0

    def varint():
        nonlocal pos
        result = shift = 0
        while True:
            if pos >= len(data):
                fail("truncated descriptor set")
            byte = data[pos]
            pos += 1
            result |= (byte & 0x7F) << shift
            shift += 7
            if not byte & 0x80:
                return result

    while pos < len(data):
        key = varint()
        number, wire = key >> 3, key & 7
        if wire == 0:
            yield number, wire, varint()
        elif wire == 2:
            length = varint()
            yield number, wire, data[pos:pos + length]
            pos += length
        elif wire == 1:
            pos += 8
        elif wire == 5:
            pos += 4
        else:
            fail("unsupported wire type %d in descriptor set" % wire)


def decode_field(data):
    field = SimpleNamespace(name="", number=0, label=0, type=0, type_name="")
    for number, _, value in read_fields(data):
        if number == 1:
            field.name = value.decode()
        elif number == 3:
            field.number = value
        elif number == 4:
            field.label = value
        elif number == 5:
            field.type = value
        elif number == 6:
            field.type_name = value.decode()
    return field


def decode_message(data):
    message = SimpleNamespace(name="", field=[], nested_type=[])
    for number, _, value in read_fields(data):
        if number == 1:
            message.name = value.decode()
        elif number == 2:
            message.field.append(decode_field(value))
        elif number == 3:
            message.nested_type.append(value)
    return message


def decode_file(data):
    proto_file = SimpleNamespace(package="", message_type=[])
    for number, _, value in read_fields(data):
        if number == 2:
            proto_file.package = value.decode()
        elif number == 4:
            proto_file.message_type.append(decode_message(value))
    return proto_file

OPTIONAL = 0x2
REPEATED = 0x8
TYPE_FLAGS = {
    FD.TYPE_BOOL: 0x20,
    FD.TYPE_ENUM: 0x40,
    FD.TYPE_INT32: 0x80,
    FD.TYPE_UINT32: 0x100,
    FD.TYPE_INT64: 0x200,
    FD.TYPE_UINT64: 0x400,
    FD.TYPE_FLOAT: 0x800,
    FD.TYPE_DOUBLE: 0x1000,
    FD.TYPE_STRING: 0x2000,
    FD.TYPE_MESSAGE: 0x4000,
    FD.TYPE_BYTES: 0x8000,
}
# Repeated numbers travel as varints (the runtime keeps them in 64-bit cells).
REPEATABLE_NUMBERS = {FD.TYPE_BOOL, FD.TYPE_ENUM, FD.TYPE_UINT32, FD.TYPE_INT64, FD.TYPE_UINT64}


def fail(text):
    sys.stderr.write("generate_message_tables: %s\n" % text)
    sys.exit(1)


def field_flags(message, field):
    if field.type not in TYPE_FLAGS:
        fail("%s.%s: unsupported field type %d" % (message.name, field.name, field.type))
    if field.label == FD.LABEL_REPEATED:
        if field.type not in REPEATABLE_NUMBERS | {FD.TYPE_STRING, FD.TYPE_BYTES, FD.TYPE_MESSAGE}:
            fail("%s.%s: unsupported repeated type" % (message.name, field.name))
        return REPEATED | TYPE_FLAGS[field.type]
    if field.label != FD.LABEL_OPTIONAL:
        fail("%s.%s: only optional and repeated fields are supported" % (message.name, field.name))
    return OPTIONAL | TYPE_FLAGS[field.type]


def load_messages(descriptor_set_path):
    with open(descriptor_set_path, "rb") as handle:
        data = handle.read()
    files = [decode_file(value) for number, _, value in read_fields(data) if number == 1]
    messages = []
    for proto_file in files:
        for message in proto_file.message_type:
            if message.nested_type:
                fail("%s: nested message types are not supported" % message.name)
            messages.append((proto_file.package, message))
    return messages


def short_name(type_name):
    return type_name.rsplit(".", 1)[-1]


def binding_counts(messages):
    """Repeated fields of a message, including those inside its single sub-messages."""
    by_name = {message.name: message for _, message in messages}
    counts = {}

    def count(name, visiting):
        if name in counts:
            return counts[name]
        if name in visiting:
            fail("%s: a message may contain itself only through a repeated field" % name)
        total = 0
        for field in by_name[name].field:
            if field.label == FD.LABEL_REPEATED:
                total += 1
            elif field.type == FD.TYPE_MESSAGE:
                total += count(short_name(field.type_name), visiting | {name})
        counts[name] = total
        return total

    for _, message in messages:
        count(message.name, frozenset())
    return counts


def write_header(messages, path):
    lines = [
        "// Generated by generate_message_tables.py from the wire schema. Do not edit.",
        "#pragma once",
        "",
        '#include "measurement/messages/MessageType.h"',
        "",
        "namespace measurement::messages {",
        "",
    ]
    lines += ["extern const MessageType k%s;" % message.name for _, message in messages]
    lines += ["", "}  // namespace measurement::messages", ""]
    with open(path, "w") as handle:
        handle.write("\n".join(lines))


def write_source(messages, header_name, nanopb_header, path):
    counts = binding_counts(messages)
    out = [
        "// Generated by generate_message_tables.py from the wire schema. Do not edit.",
        '#include "%s"' % header_name,
        "",
        '#include "%s"' % nanopb_header,
        "",
        "namespace measurement::messages {",
        "namespace {",
        "",
    ]
    for package, message in messages:
        flags = [field_flags(message, field) for field in message.field]
        out.append("const std::uint32_t k%sFlags[] = {%s};" % (
            message.name, ", ".join("0x%x" % flag for flag in flags)))
        out.append("const SlotInfo k%sSlots[] = {" % message.name)
        for field, flag in zip(message.field, flags):
            child = "&k%s" % short_name(field.type_name) if field.type == FD.TYPE_MESSAGE else "nullptr"
            out.append('    {"%s", %d, 0x%x, %s},' % (field.name, field.number, flag, child))
        out.append("};")
        tag_order = sorted(range(len(message.field)), key=lambda slot: message.field[slot].number)
        out.append("const std::uint16_t k%sSlotsByTag[] = {%s};" % (
            message.name, ", ".join(str(slot) for slot in tag_order)))
        out.append("")
    out.append("}  // namespace")
    out.append("")
    for package, message in messages:
        c_name = "%s_%s" % (package.replace(".", "_"), message.name) if package else message.name
        out += [
            "const MessageType k%s = {" % message.name,
            '    "%s",' % message.name,
            "    %d," % len(message.field),
            "    k%sFlags," % message.name,
            "    k%sSlots," % message.name,
            "    k%sSlotsByTag," % message.name,
            "    &%s_msg," % c_name,
            "    sizeof(%s)," % c_name,
            "    %d," % counts[message.name],
            "};",
            "",
        ]
    out.append("const MessageType* const kAllMessageTypesTable[] = {")
    out += ["    &k%s," % message.name for _, message in messages]
    out.append("};")
    out.append("")
    out.append("std::span<const MessageType* const> allMessageTypes() { return kAllMessageTypesTable; }")
    out += ["", "}  // namespace measurement::messages", ""]
    with open(path, "w") as handle:
        handle.write("\n".join(out))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("descriptor_set")
    parser.add_argument("header")
    parser.add_argument("source")
    parser.add_argument("--header-include", required=True)
    parser.add_argument("--nanopb-header", required=True)
    args = parser.parse_args()
    messages = load_messages(args.descriptor_set)
    for _, message in messages:
        for field in message.field:
            if field.number > 0xFFFF:
                fail("%s.%s: tag too large" % (message.name, field.name))
        if len(message.field) == 0 or len(message.field) > 0xFFFF:
            fail("%s: unsupported field count" % message.name)
    write_header(messages, args.header)
    write_source(messages, args.header_include, args.nanopb_header, args.source)


if __name__ == "__main__":
    main()
