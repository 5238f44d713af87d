-- The Kalvessa 100's own frames, decoded in Wireshark: what the configuration tool and the tap
-- say to each other over the tap's interface. Those frames carry all-zero addresses and an
-- EtherType of 0, so Ethernet takes them for 802.3 frames of length 0; this dissector looks at
-- every Ethernet frame first and claims only those whose 14-byte header is all zero.
--
-- Layout (the tool's device/FrameLayout.h): byte 14 reserved (0), byte 15 the command (a
-- request) or the reply code (an answer), bytes 16-18 the address, most significant byte first,
-- byte 19 the register value, or from byte 19 on 256 bytes of firmware page. A frame too short
-- for what its command carries is marked malformed, and nothing is read from what is missing.

local kalvessa = Proto("kalvessa100", "Kalvessa 100 control")

local HEADER_LENGTH = 15
local OPCODE_OFFSET = 15
local ADDRESS_OFFSET = 16
local ADDRESS_LENGTH = 3
local VALUE_OFFSET = 19
local PAGE_SIZE = 256

-- What each request is, what its frame carries after the address, and the reply code that
-- says it was carried out (none: generation 3 never answers).
local REGISTER, SECTOR, PAGE_INDEX, PAGE_OFFSET, NOTHING, REGISTER_ASKED = 1, 2, 3, 4, 5, 6
local requests = {
    [0x70] = { name = "Write register", carries = REGISTER, reply = 7 },
    [0x80] = { name = "Write register (stored copy)", carries = REGISTER, reply = 8 },
    [0x71] = { name = "Read register", carries = REGISTER_ASKED, reply = 23 },
    [0x81] = { name = "Read register (stored copy)", carries = REGISTER_ASKED, reply = 24 },
    [0xE0] = { name = "Erase sector", carries = SECTOR, reply = 14 },
    [0x8F] = { name = "Commit settings", carries = NOTHING },
    [0xB0] = { name = "Begin programming", carries = NOTHING, reply = 11 },
    [0xB1] = { name = "Program page", carries = PAGE_INDEX, reply = 27 },
    [0xB2] = { name = "End programming", carries = NOTHING, reply = 43 },
    [0xEE] = { name = "Erase sector (generation 3)", carries = SECTOR },
    [0xDD] = { name = "Write page (generation 3)", carries = PAGE_OFFSET },
}
local replies = {
    [7] = { name = "Register written", carries = REGISTER },
    [8] = { name = "Register written (stored copy)", carries = REGISTER },
    [23] = { name = "Register read", carries = REGISTER },
    [24] = { name = "Register read (stored copy)", carries = REGISTER },
    [14] = { name = "Sector erased", carries = SECTOR },
    [11] = { name = "Programming begun", carries = NOTHING },
    [27] = { name = "Page programmed", carries = PAGE_INDEX },
    [43] = { name = "Programming ended", carries = NOTHING },
    [0xFF] = { name = "Refused", carries = NOTHING },
}

local function names(table)
    local out = {}
    for code, entry in pairs(table) do out[code] = entry.name end
    return out
end

local f = {
    kind = ProtoField.string("kalvessa100.kind", "Kind"),
    command = ProtoField.uint8("kalvessa100.command", "Command", base.HEX, names(requests)),
    reply = ProtoField.uint8("kalvessa100.reply", "Reply code", base.DEC, names(replies)),
    answers = ProtoField.uint8("kalvessa100.answers", "Answer to", base.HEX, names(requests)),
    refused = ProtoField.bool("kalvessa100.refused", "Refused by the tap"),
    reserved = ProtoField.uint8("kalvessa100.reserved", "Reserved", base.HEX),
    address = ProtoField.uint24("kalvessa100.address", "Register address", base.HEX),
    value = ProtoField.uint8("kalvessa100.value", "Register value", base.HEX),
    sector = ProtoField.uint24("kalvessa100.sector", "Sector address", base.HEX),
    page = ProtoField.uint24("kalvessa100.page", "Page index", base.DEC),
    offset = ProtoField.uint32("kalvessa100.offset", "Place in the image (byte offset)", base.DEC),
    data = ProtoField.bytes("kalvessa100.page_data", "Page data"),
}
kalvessa.fields = f

local e = {
    malformed = ProtoExpert.new("kalvessa100.malformed", "Malformed: the frame is too short for what it carries",
        expert.group.MALFORMED, expert.severity.ERROR),
    unknown = ProtoExpert.new("kalvessa100.unknown", "Unknown command or reply code: not decoded",
        expert.group.UNDECODED, expert.severity.WARN),
    reserved = ProtoExpert.new("kalvessa100.reserved_set", "Reserved byte is not zero",
        expert.group.PROTOCOL, expert.severity.WARN),
    refused = ProtoExpert.new("kalvessa100.refused_by_tap", "The tap refused the command",
        expert.group.RESPONSE_CODE, expert.severity.WARN),
}
kalvessa.experts = { e.malformed, e.unknown, e.reserved, e.refused }

-- The bytes this frame needs for what it carries, from the start of the frame.
local function needed(carries)
    if carries == REGISTER then return VALUE_OFFSET + 1 end
    if carries == PAGE_INDEX or carries == PAGE_OFFSET then return VALUE_OFFSET + PAGE_SIZE end
    if carries == SECTOR or carries == REGISTER_ASKED then return ADDRESS_OFFSET + ADDRESS_LENGTH end
    return OPCODE_OFFSET + 1
end

local function malformed(tree, what)
    tree:add_proto_expert_info(e.malformed, "Malformed: " .. what)
end

local function carried(tree, tvb, carries, request)
    if carries == REGISTER then
        tree:add(f.address, tvb(ADDRESS_OFFSET, ADDRESS_LENGTH))
        tree:add(f.value, tvb(VALUE_OFFSET, 1))
        return string.format(" register 0x%06x value 0x%02x", tvb(ADDRESS_OFFSET, ADDRESS_LENGTH):uint(),
            tvb(VALUE_OFFSET, 1):uint())
    elseif carries == REGISTER_ASKED then
        tree:add(f.address, tvb(ADDRESS_OFFSET, ADDRESS_LENGTH))
        return string.format(" register 0x%06x", tvb(ADDRESS_OFFSET, ADDRESS_LENGTH):uint())
    elseif carries == SECTOR then
        tree:add(f.sector, tvb(ADDRESS_OFFSET, ADDRESS_LENGTH))
        return string.format(" sector 0x%06x", tvb(ADDRESS_OFFSET, ADDRESS_LENGTH):uint())
    elseif carries == PAGE_INDEX or carries == PAGE_OFFSET then
        local address = tvb(ADDRESS_OFFSET, ADDRESS_LENGTH):uint()
        local index, offset
        if carries == PAGE_INDEX then
            index, offset = address, address * PAGE_SIZE
            tree:add(f.page, tvb(ADDRESS_OFFSET, ADDRESS_LENGTH))
            tree:add(f.offset, tvb(ADDRESS_OFFSET, ADDRESS_LENGTH), offset):set_generated()
        else
            index, offset = math.floor(address / PAGE_SIZE), address
            tree:add(f.offset, tvb(ADDRESS_OFFSET, ADDRESS_LENGTH))
            tree:add(f.page, tvb(ADDRESS_OFFSET, ADDRESS_LENGTH), index):set_generated()
        end
        if request then tree:add(f.data, tvb(VALUE_OFFSET, PAGE_SIZE)) end
        return string.format(" page %d (bytes %d-%d)", index, offset, offset + PAGE_SIZE - 1)
    end
    return ""
end

local function allZero(tvb, length)
    for i = 0, length - 1 do
        if tvb(i, 1):uint() ~= 0 then return false end
    end
    return true
end

local function dissect(tvb, pinfo, root)
    local length = tvb:len()
    -- Only the tap's frames: both addresses and the EtherType all zero. Anything else is left
    -- to Ethernet, whatever it carries.
    if length < 14 or not allZero(tvb, 14) then return false end

    pinfo.cols.protocol = "Kalvessa100"
    local tree = root:add(kalvessa, tvb())
    if length < OPCODE_OFFSET + 1 then
        malformed(tree, string.format("%d bytes, no command", length))
        pinfo.cols.info = "Kalvessa 100 frame without a command [Malformed]"
        return true
    end
    local reserved = tvb(14, 1):uint()
    local reserved_item = tree:add(f.reserved, tvb(14, 1))
    if reserved ~= 0 then reserved_item:add_proto_expert_info(e.reserved) end

    local code = tvb(OPCODE_OFFSET, 1):uint()
    local entry, request = requests[code], true
    if not entry then entry, request = replies[code], false end
    if not entry then
        tree:add(f.kind, tvb(OPCODE_OFFSET, 1), "unknown")
        tree:add(f.command, tvb(OPCODE_OFFSET, 1)):add_proto_expert_info(e.unknown)
        pinfo.cols.info = string.format("Kalvessa 100 unknown code 0x%02x", code)
        return true
    end

    local code_item
    if request then
        tree:add(f.kind, tvb(OPCODE_OFFSET, 1), "request")
        code_item = tree:add(f.command, tvb(OPCODE_OFFSET, 1))
    else
        tree:add(f.kind, tvb(OPCODE_OFFSET, 1), "reply")
        code_item = tree:add(f.reply, tvb(OPCODE_OFFSET, 1))
        if code == 0xFF then
            tree:add(f.refused, tvb(OPCODE_OFFSET, 1), true)
            code_item:add_proto_expert_info(e.refused)
        else
            for op, r in pairs(requests) do
                if r.reply == code then tree:add(f.answers, tvb(OPCODE_OFFSET, 1), op):set_generated() end
            end
        end
    end

    local carries = entry.carries
    -- A page's answer echoes the index only; it carries no page data.
    local need = (not request and carries == PAGE_INDEX) and ADDRESS_OFFSET + ADDRESS_LENGTH or needed(carries)
    local info = (request and "Kalvessa 100 " or "Kalvessa 100 reply: ") .. entry.name
    if length < need then
        malformed(tree, string.format("%s needs %d bytes, the frame has %d", entry.name, need, length))
        pinfo.cols.info = info .. " [Malformed]"
        return true
    end
    if carries == PAGE_INDEX and not request then
        local index = tvb(ADDRESS_OFFSET, ADDRESS_LENGTH):uint()
        tree:add(f.page, tvb(ADDRESS_OFFSET, ADDRESS_LENGTH))
        tree:add(f.offset, tvb(ADDRESS_OFFSET, ADDRESS_LENGTH), index * PAGE_SIZE):set_generated()
        info = info .. string.format(" page %d (bytes %d-%d)", index, index * PAGE_SIZE, index * PAGE_SIZE + PAGE_SIZE - 1)
    else
        info = info .. carried(tree, tvb, carries, request)
    end
    pinfo.cols.info = info
    return true
end

kalvessa:register_heuristic("eth", dissect)
