// Our WinSNMP's variable-binding lists, PDUs and value descriptors.
#include "winsnmp/wsnmp_internal.h"

#include <snmp.h>
#include <stdlib.h>
#include <string.h>

static int HasOctets(int syntax)
{
    return syntax == BER_OCTET_STRING || syntax == BER_OPAQUE || syntax == BER_IPADDRESS;
}

void WsFreeList(WsList *list)
{
    for (uint32_t i = 0; i < list->count; i++) {
        BerValue *value = &list->items[i].value;
        // Wiped first: an SNMPv3 answer's values were deciphered.
        if (HasOctets(value->syntax) && value->octets != NULL) {
            SecureZeroMemory((void *)value->octets, value->octetCount);
            free((void *)value->octets);
        }
    }
    free(list->items);
    list->items = NULL;
    list->count = 0;
}

int WsCopyBinds(WsList *dst, const BerVarBind *src, uint32_t count)
{
    dst->count = 0;
    dst->items = NULL;
    if (count == 0)
        return 1;
    dst->items = (BerVarBind *)calloc(count, sizeof(BerVarBind));
    if (dst->items == NULL)
        return 0;
    for (uint32_t i = 0; i < count; i++) {
        BerVarBind *item = &dst->items[i];
        memcpy(item, &src[i], sizeof(*item));
        item->value.octets = NULL;
        if (HasOctets(item->value.syntax) && src[i].value.octetCount > 0) {
            uint8_t *copy = (uint8_t *)malloc(src[i].value.octetCount);
            if (copy == NULL) {
                dst->count = i;
                WsFreeList(dst);
                return 0;
            }
            memcpy(copy, src[i].value.octets, src[i].value.octetCount);
            item->value.octets = copy;
        }
        dst->count = i + 1;
    }
    return 1;
}

// One binding from the caller's name and value. Returns 0 or the error code.
static SNMPAPI_STATUS BindFromCaller(smiLPCOID name, smiLPCVALUE value, BerVarBind *bind)
{
    memset(bind, 0, sizeof(*bind));
    if (name->len > BER_MAX_OID_LENGTH || name->ptr == NULL ||
        !BerOidEncodable((const uint32_t *)name->ptr, name->len))
        return SNMPAPI_OID_INVALID;
    bind->name.length = name->len;
    memcpy(bind->name.ids, name->ptr, name->len * sizeof(uint32_t));
    BerValue *v = &bind->value;
    if (value == NULL) {
        v->syntax = BER_NULL;
        return 0;
    }
    v->syntax = (int)value->syntax;
    switch (value->syntax) {
    case SNMP_SYNTAX_INT:
        v->integer = value->value.sNumber;
        return 0;
    case SNMP_SYNTAX_CNTR32:
    case SNMP_SYNTAX_GAUGE32:
    case SNMP_SYNTAX_TIMETICKS:
        v->unsigned32 = value->value.uNumber;
        return 0;
    case SNMP_SYNTAX_CNTR64:
        v->unsigned64 = (uint64_t)value->value.hNumber.hipart << 32 | value->value.hNumber.lopart;
        return 0;
    case SNMP_SYNTAX_NULL:
    case SNMP_SYNTAX_NOSUCHOBJECT:
    case SNMP_SYNTAX_NOSUCHINSTANCE:
    case SNMP_SYNTAX_ENDOFMIBVIEW:
        return 0;
    case SNMP_SYNTAX_OID:
        if (value->value.oid.len > BER_MAX_OID_LENGTH || value->value.oid.ptr == NULL ||
            !BerOidEncodable((const uint32_t *)value->value.oid.ptr, value->value.oid.len))
            return SNMPAPI_OID_INVALID;
        v->oid.length = value->value.oid.len;
        memcpy(v->oid.ids, value->value.oid.ptr, value->value.oid.len * sizeof(uint32_t));
        return 0;
    case SNMP_SYNTAX_IPADDR:
        if (value->value.string.len != 4 || value->value.string.ptr == NULL)
            return SNMPAPI_SYNTAX_INVALID;
        v->octets = value->value.string.ptr;
        v->octetCount = 4;
        return 0;
    case SNMP_SYNTAX_OCTETS:
    case SNMP_SYNTAX_OPAQUE:
        if (value->value.string.len > BER_MAX_MESSAGE ||
            (value->value.string.len > 0 && value->value.string.ptr == NULL))
            return SNMPAPI_SYNTAX_INVALID;
        v->octets = value->value.string.ptr;
        v->octetCount = value->value.string.len;
        return 0;
    default:
        return SNMPAPI_SYNTAX_INVALID;   // not carried by SNMPv1 or SNMPv2c
    }
}

HSNMP_VBL WINAPI SnmpCreateVbl(HSNMP_SESSION session, smiLPCOID name, smiLPCVALUE value)
{
    HSNMP_VBL result = NULL;
    BerVarBind bind;
    WsList list = {0, NULL};
    int index = -1;
    WsLock();
    int s = WsSessionIndex(session);
    if (s < 0)
        goto done;
    if (name != NULL) {
        SNMPAPI_STATUS code = BindFromCaller(name, value, &bind);
        if (code != 0) {
            WsFail(s, code);
            goto done;
        }
        if (!WsCopyBinds(&list, &bind, 1)) {
            WsFail(s, SNMPAPI_ALLOC_ERROR);
            goto done;
        }
    }
    index = WsClaimVbl(s);
    if (index < 0) {
        WsFail(s, SNMPAPI_ALLOC_ERROR);
        goto done;
    }
    g_wsVbls[index].list = list;
    list.count = 0;
    list.items = NULL;
    result = WsMakeHandle(WS_KIND_VBL, index, g_wsVbls[index].slot.generation);
done:
    WsFreeList(&list);
    WsUnlock();
    return result;
}

SNMPAPI_STATUS WINAPI SnmpFreeVbl(HSNMP_VBL vbl)
{
    SNMPAPI_STATUS result = SNMPAPI_FAILURE;
    WsLock();
    int index = WsVblIndex(vbl);
    if (index >= 0) {
        WsFreeList(&g_wsVbls[index].list);
        WsReleaseSlot(&g_wsVbls[index].slot);
        result = SNMPAPI_SUCCESS;
    }
    WsUnlock();
    return result;
}

SNMPAPI_STATUS WINAPI SnmpCountVbl(HSNMP_VBL vbl)
{
    SNMPAPI_STATUS result = SNMPAPI_FAILURE;
    WsLock();
    int index = WsVblIndex(vbl);
    if (index >= 0)
        result = g_wsVbls[index].list.count;
    WsUnlock();
    return result;
}

// SnmpUtilMemAlloc, so that SnmpFreeDescriptor and the utility API's
// SnmpUtilOidFree can both release what we hand out.
static void *AllocateDescriptor(size_t bytes)
{
    return SnmpUtilMemAlloc((UINT)bytes);
}

static int OidOut(const BerOid *oid, smiLPOID out)
{
    out->len = 0;
    out->ptr = NULL;
    if (oid->length == 0)
        return 1;
    out->ptr = (smiLPUINT32)AllocateDescriptor(oid->length * sizeof(smiUINT32));
    if (out->ptr == NULL)
        return 0;
    memcpy(out->ptr, oid->ids, oid->length * sizeof(smiUINT32));
    out->len = oid->length;
    return 1;
}

static int ValueOut(const BerValue *v, smiLPVALUE out)
{
    memset(out, 0, sizeof(*out));
    out->syntax = (smiUINT32)v->syntax;
    switch (v->syntax) {
    case BER_INTEGER:
        out->value.sNumber = v->integer;
        return 1;
    case BER_COUNTER32:
    case BER_GAUGE32:
    case BER_TIMETICKS:
        out->value.uNumber = v->unsigned32;
        return 1;
    case BER_COUNTER64:
        out->value.hNumber.hipart = (smiUINT32)(v->unsigned64 >> 32);
        out->value.hNumber.lopart = (smiUINT32)v->unsigned64;
        return 1;
    case BER_OBJECT_IDENTIFIER:
        return OidOut(&v->oid, &out->value.oid);
    case BER_OCTET_STRING:
    case BER_OPAQUE:
    case BER_IPADDRESS:
        if (v->octetCount == 0)
            return 1;
        out->value.string.ptr = (smiLPBYTE)AllocateDescriptor(v->octetCount);
        if (out->value.string.ptr == NULL)
            return 0;
        memcpy(out->value.string.ptr, v->octets, v->octetCount);
        out->value.string.len = v->octetCount;
        return 1;
    default:
        return 1;                        // NULL and the exceptions: empty
    }
}

SNMPAPI_STATUS WINAPI SnmpGetVb(HSNMP_VBL vbl, smiUINT32 index, smiLPOID name, smiLPVALUE value)
{
    SNMPAPI_STATUS result = SNMPAPI_FAILURE;
    smiOID nameOut = {0, NULL};
    smiVALUE valueOut;
    memset(&valueOut, 0, sizeof(valueOut));
    WsLock();
    int v = WsVblIndex(vbl);
    if (v < 0)
        goto done;
    {
        const WsList *list = &g_wsVbls[v].list;
        int s = g_wsVbls[v].slot.session;
        if (index < 1 || index > list->count) {
            WsFail(s, SNMPAPI_INDEX_INVALID);
            goto done;
        }
        const BerVarBind *bind = &list->items[index - 1];
        if ((name != NULL && !OidOut(&bind->name, &nameOut)) ||
            (value != NULL && !ValueOut(&bind->value, &valueOut))) {
            WsFail(s, SNMPAPI_ALLOC_ERROR);
            if (nameOut.ptr != NULL)
                SnmpUtilMemFree(nameOut.ptr);
            goto done;
        }
    }
    if (name != NULL)
        *name = nameOut;
    if (value != NULL)
        *value = valueOut;
    result = SNMPAPI_SUCCESS;
done:
    WsUnlock();
    return result;
}

HSNMP_PDU WINAPI SnmpCreatePdu(HSNMP_SESSION session, smiINT PDU_type, smiINT32 request_id,
                               smiINT error_status, smiINT error_index, HSNMP_VBL varbindlist)
{
    HSNMP_PDU result = NULL;
    WsList list = {0, NULL};
    WsLock();
    int s = WsSessionIndex(session);
    if (s < 0)
        goto done;
    // GetBulk carries non-repeaters and max-repetitions in the error status
    // and index, and goes to SNMPv2c entities only (SnmpSendMsg checks).
    if (PDU_type != SNMP_PDU_GET && PDU_type != SNMP_PDU_GETNEXT &&
        PDU_type != SNMP_PDU_RESPONSE && PDU_type != SNMP_PDU_SET &&
        PDU_type != SNMP_PDU_GETBULK) {
        WsFail(s, SNMPAPI_PDU_INVALID);     // we send no other
        goto done;
    }
    if (varbindlist != NULL) {
        int v = WsVblIndex(varbindlist);
        if (v < 0)
            goto done;
        if (g_wsVbls[v].slot.session != s) {
            WsFail(s, SNMPAPI_VBL_INVALID);
            goto done;
        }
        // A copy: the caller may release the list at once.
        if (!WsCopyBinds(&list, g_wsVbls[v].list.items, g_wsVbls[v].list.count)) {
            WsFail(s, SNMPAPI_ALLOC_ERROR);
            goto done;
        }
    }
    {
        int p = WsClaimPdu(s);
        if (p < 0) {
            WsFail(s, SNMPAPI_ALLOC_ERROR);
            goto done;
        }
        WsPdu *pdu = &g_wsPdus[p];
        if (request_id == 0) {
            // Zero asks us to number the request.
            WsSession *session = &g_wsSessions[s];
            if (++session->nextRequestId <= 0)
                session->nextRequestId = 1;
            request_id = session->nextRequestId;
        }
        pdu->type = PDU_type;
        pdu->requestId = request_id;
        pdu->errorStatus = error_status;
        pdu->errorIndex = error_index;
        pdu->list = list;
        list.count = 0;
        list.items = NULL;
        result = WsMakeHandle(WS_KIND_PDU, p, pdu->slot.generation);
    }
done:
    WsFreeList(&list);
    WsUnlock();
    return result;
}

SNMPAPI_STATUS WINAPI SnmpGetPduData(HSNMP_PDU PDU, smiLPINT PDU_type, smiLPINT32 request_id,
                                     smiLPINT error_status, smiLPINT error_index,
                                     LPHSNMP_VBL varbindlist)
{
    SNMPAPI_STATUS result = SNMPAPI_FAILURE;
    WsLock();
    int p = WsPduIndex(PDU);
    if (p < 0)
        goto done;
    {
        const WsPdu *pdu = &g_wsPdus[p];
        int s = pdu->slot.session;
        HSNMP_VBL vbl = NULL;
        if (varbindlist != NULL) {
            // A new list for the caller, released with SnmpFreeVbl.
            WsList copy;
            if (!WsCopyBinds(&copy, pdu->list.items, pdu->list.count)) {
                WsFail(s, SNMPAPI_ALLOC_ERROR);
                goto done;
            }
            int v = WsClaimVbl(s);
            if (v < 0) {
                WsFreeList(&copy);
                WsFail(s, SNMPAPI_ALLOC_ERROR);
                goto done;
            }
            g_wsVbls[v].list = copy;
            vbl = WsMakeHandle(WS_KIND_VBL, v, g_wsVbls[v].slot.generation);
        }
        if (PDU_type != NULL)
            *PDU_type = pdu->type;
        if (request_id != NULL)
            *request_id = pdu->requestId;
        if (error_status != NULL)
            *error_status = pdu->errorStatus;
        if (error_index != NULL)
            *error_index = pdu->errorIndex;
        if (varbindlist != NULL)
            *varbindlist = vbl;
        result = SNMPAPI_SUCCESS;
    }
done:
    WsUnlock();
    return result;
}

SNMPAPI_STATUS WINAPI SnmpFreePdu(HSNMP_PDU PDU)
{
    SNMPAPI_STATUS result = SNMPAPI_FAILURE;
    WsLock();
    int p = WsPduIndex(PDU);
    if (p >= 0) {
        WsFreeList(&g_wsPdus[p].list);
        WsReleaseSlot(&g_wsPdus[p].slot);
        result = SNMPAPI_SUCCESS;
    }
    WsUnlock();
    return result;
}

SNMPAPI_STATUS WINAPI SnmpFreeDescriptor(smiUINT32 syntax, smiLPOPAQUE descriptor)
{
    switch (syntax) {
    case SNMP_SYNTAX_OCTETS:
    case SNMP_SYNTAX_OPAQUE:
    case SNMP_SYNTAX_IPADDR:
    case SNMP_SYNTAX_NSAPADDR:
    case SNMP_SYNTAX_BITS:
    case SNMP_SYNTAX_OID:
        break;
    default:
        WsLock();
        WsFail(-1, SNMPAPI_SYNTAX_INVALID);
        WsUnlock();
        return SNMPAPI_FAILURE;
    }
    if (descriptor == NULL) {
        WsLock();
        WsFail(-1, SNMPAPI_NOOP);
        WsUnlock();
        return SNMPAPI_FAILURE;
    }
    // smiOID and smiOCTETS share the layout: a count, then the pointer.
    if (descriptor->ptr != NULL)
        SnmpUtilMemFree(descriptor->ptr);
    descriptor->ptr = NULL;
    descriptor->len = 0;
    return SNMPAPI_SUCCESS;
}
