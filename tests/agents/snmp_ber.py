"""SNMPv1 messages built and read by hand, for our test agents and the
fuzzing corpus script: each of them must put on the wire exactly what its
test needs, including what no SNMP library will send."""

COMMUNITY = b"public"


def length_bytes(n):
    if n < 0x80:
        return bytes([n])
    body = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(body)]) + body


def tlv(tag, content):
    return bytes([tag]) + length_bytes(len(content)) + content


def integer(value, tag=0x02):
    size = 1
    while not -(1 << (8 * size - 1)) <= value < (1 << (8 * size - 1)):
        size += 1
    return tlv(tag, value.to_bytes(size, "big", signed=True))


def subid(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


def oid(ids):
    body = subid(ids[0] * 40 + ids[1]) + b"".join(subid(x) for x in ids[2:])
    return tlv(0x06, body)


def message(request_id, bindings, community=COMMUNITY, version=0, error=0, index=0,
            pdu_tag=0xA2):
    varbinds = b"".join(tlv(0x30, oid(name) + value) for name, value in bindings)
    pdu = tlv(pdu_tag, integer(request_id) + integer(error) + integer(index) + tlv(0x30, varbinds))
    return tlv(0x30, integer(version) + tlv(0x04, community) + pdu)


class Malformed(Exception):
    pass


def read_tlv(data, pos):
    if pos + 2 > len(data):
        raise Malformed()
    tag = data[pos]
    first = data[pos + 1]
    pos += 2
    if first & 0x80:
        count = first & 0x7F
        if count == 0 or pos + count > len(data):
            raise Malformed()
        size = int.from_bytes(data[pos:pos + count], "big")
        pos += count
    else:
        size = first
    if pos + size > len(data):
        raise Malformed()
    return tag, data[pos:pos + size], pos + size


def parse_oid(body):
    if not body:
        raise Malformed()
    ids = []
    value = 0
    for byte in body:
        value = (value << 7) | (byte & 0x7F)
        if not byte & 0x80:
            ids.append(value)
            value = 0
    first = min(ids[0] // 40, 2)
    return (first, ids[0] - 40 * first) + tuple(ids[1:])


def parse_message(data):
    """Community, PDU tag, request id, error status and the first
    variable's name."""
    tag, body, _ = read_tlv(data, 0)
    if tag != 0x30:
        raise Malformed()
    _, _, pos = read_tlv(body, 0)                       # version
    tag, community, pos = read_tlv(body, pos)
    pdu_tag, pdu, _ = read_tlv(body, pos)
    tag, request_id, pos = read_tlv(pdu, 0)
    _, status, pos = read_tlv(pdu, pos)
    _, _, pos = read_tlv(pdu, pos)                      # error index
    _, varbinds, _ = read_tlv(pdu, pos)
    _, first, _ = read_tlv(varbinds, 0)
    _, name, _ = read_tlv(first, 0)
    return (community, pdu_tag, int.from_bytes(request_id, "big", signed=True),
            int.from_bytes(status, "big", signed=True), parse_oid(name))


def parse_request(data):
    """Community, PDU tag, request id and the first variable's name."""
    community, pdu_tag, request_id, _, name = parse_message(data)
    return community, pdu_tag, request_id, name
