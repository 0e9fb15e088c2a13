// The expected user-interface texts, typed from the system's description,
// and the locales the language tests run in.
#include "tests/bench/languages.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

// 141 (the box for values the printer did not take) last, so that the
// others keep their places in LanguageTexts::texts.
const UINT kStringIds[12] = {103, 110, 111, 112, 113, 120, 121, 122, 130, 140, 150, 141};

const LanguageTexts kLanguages[9] = {
    {0x0409, "English (United States)", {
        u8"VR Universal Driver Auto Configuration",
        u8"IP-Address / Host Name:",
        u8"SNMP Community Name:",
        u8"SNMP time-out:",
        u8"seconds",
        u8"OK",
        u8"Cancel",
        u8"Help",
        u8"Warning",
        u8"A connection to the printer could not be established.\n"
        u8"Please check if the printer is switched on and connected.",
        u8"VRPHlp.chm",
        u8"The detected options could not be stored for this printer.\n"
        u8"This user account may not manage the printer.\n"
        u8"Please ask your administrator to run the auto configuration for you.",
    }},
    {0x0407, "German (Germany)", {
        u8"VR UniversalDriver Autokonfiguration",
        u8"IP-Adresse / Host Name:",
        u8"SNMP Community Name:",
        u8"SNMP Time-out:",
        u8"Sekunden",
        u8"OK",
        u8"Abbrechen",
        u8"Hilfe",
        u8"Fehler",
        u8"Eine Verbindung zum Drucker konnte nicht hergestellt werden.\n"
        u8"Bitte überprüfen Sie, ob der Drucker eingeschaltet und angeschlossen ist.",
        u8"VRPHDe.chm",
        u8"Die erkannten Optionen konnten für diesen Drucker nicht gespeichert werden.\n"
        u8"Dieses Benutzerkonto darf den Drucker nicht verwalten.\n"
        u8"Bitte wenden Sie sich an Ihren Administrator, damit er die Autokonfiguration für Sie ausführt.",
    }},
    {0x040C, "French (France)", {
        u8"Auto configuration du driver VR Universel",
        u8"Adresse IP / Nom d’hôte:",
        u8"Nom de la communauté SNMP:",
        u8"Délai SNMP:",
        u8"secondes",
        u8"OK",
        u8"Annuler",
        u8"Aide",
        u8"Erreur",
        u8"La connexion à l’imprimante n’a pu être établie.\n"
        u8"Merci de vérifier que l’imprimante est allumée et connectée.",
        u8"VRPHFr.chm",
        u8"Les options détectées n’ont pas pu être enregistrées pour cette imprimante.\n"
        u8"Ce compte d’utilisateur n’est pas autorisé à gérer l’imprimante.\n"
        u8"Merci de demander à votre administrateur de lancer la configuration automatique pour vous.",
    }},
    {0x0410, "Italian (Italy)", {
        u8"VR Universal Driver Auto Configuration",
        u8"Indirizzo IP / Nome di host:",
        u8"Nome di SNMP community:",
        u8"SNMP time-out:",
        u8"secondos",
        u8"OK",
        u8"Annulla",
        u8"Aiuto",
        u8"Attenzione",
        u8"A connection to the printer could not be established.\n"
        u8"Please check if the printer is switched on and connected.",
        u8"VRPHIt.chm",
        u8"Non è stato possibile salvare le opzioni rilevate per questa stampante.\n"
        u8"Questo account utente non è autorizzato a gestire la stampante.\n"
        u8"Chiedere all’amministratore di eseguire la configurazione automatica.",
    }},
    {0x000A, "Spanish (every region)", {
        u8"Configuración automática Driver Universal VR",
        u8"Dirección IP / Nombre de Host:",
        u8"Nombre de Comunidad SNMP:",
        u8"Tiempo de espera SNMP:",
        u8"segundos",
        u8"Aceptar",
        u8"Cancelar",
        u8"Auxilio",
        u8"Error",
        u8"No se pudo establecer la conexión con la impresora.\n"
        u8"Por favor, compruebe que la impresora esté encendida y conectada con el ordenador.",
        u8"VRPHSp.chm",
        u8"No se pudieron guardar las opciones detectadas para esta impresora.\n"
        u8"Esta cuenta de usuario no tiene permiso para administrar la impresora.\n"
        u8"Por favor, pida a su administrador que ejecute la configuración automática.",
    }},
    {0x0013, "Dutch (every region)", {
        u8"VR Universal Driver Auto Configuratie",
        u8"IP-Adres / Host Naam:",
        u8"SNMP Community Naam:",
        u8"SNMP time-out:",
        u8"seconden",
        u8"OK",
        u8"Annuleren",
        u8"Help",
        u8"Fout",
        u8"Er kon geen connectie met de printer worden gemaakt.\n"
        u8"Controleer a.u.b. of de printer aanstaat en aangesloten is.",
        u8"VRPHNl.chm",
        u8"De gevonden opties konden niet voor deze printer worden opgeslagen.\n"
        u8"Dit gebruikersaccount mag de printer niet beheren.\n"
        u8"Vraag uw beheerder a.u.b. de automatische configuratie voor u uit te voeren.",
    }},
    {0x001D, "Swedish (every region)", {
        u8"VR Universal Drivrutin Automtisk Konfiguration",
        u8"IP-Address / Värdnamn:",
        u8"SNMP Community Namn:",
        u8"SNMP time-out:",
        u8"sekunder",
        u8"OK",
        u8"Avbryt",
        u8"Hjälp",
        u8"Varning",
        u8"En anslutning till skrivaren kunde inte fastställas. \\ "
        u8"Kontrollera om skrivaren är påslagen och anslutad.",
        u8"VRQHSe.chm",
        u8"De identifierade tillvalen kunde inte sparas för den här skrivaren.\n"
        u8"Det här användarkontot får inte hantera skrivaren.\n"
        u8"Be din administratör att köra den automatiska konfigurationen åt dig.",
    }},
    {0x0403, "Catalan (Spain)", {
        u8"Driver Universal d’auto-configuració de VR",
        u8"Adreça IP / Nom del Host:",
        u8"Nom Comunitat SNMP:",
        u8"Desconnexió per temps SNMP:",
        u8"segons",
        u8"OK",
        u8"Cancel·la",
        u8"Ajuda",
        u8"Atenció",
        u8"La connexió amb l’impressora podria no haver-se establert. \n"
        u8"Verifiqui que l’impressora està encesa i connectada",
        u8"VRPHCa.chm",
        u8"No s’han pogut desar les opcions detectades per a aquesta impressora.\n"
        u8"Aquest compte d’usuari no té permís per administrar la impressora.\n"
        u8"Demani al seu administrador que executi la configuració automàtica.",
    }},
    {0x0816, "Portuguese (Portugal)", {
        u8"Driver Universal de Auto Configuração VR",
        u8"Endereço IP / Nome do Host:",
        u8"Nome da comunidade SNMP:",
        u8"Limite de tempo SNMP:",
        u8"seconds",
        u8"OK",
        u8"Cancelar",
        u8"Ajuda",
        u8"Defeito",
        u8"A connection to the printer could not be established.\n"
        u8"Please check if the printer is switched on and connected.",
        u8"VRPHPt.chm",
        u8"Não foi possível guardar as opções detetadas para esta impressora.\n"
        u8"Esta conta de utilizador não tem permissão para gerir a impressora.\n"
        u8"Peça ao seu administrador que execute a configuração automática.",
    }},
};

const LanguageTexts *FindLanguage(LANGID id)
{
    for (const LanguageTexts &language : kLanguages)
        if (language.id == id)
            return &language;
    return NULL;
}

// Spanish, Dutch and Swedish in a second region reach their neutral table;
// Japanese has no table and gets the platform's fallback, English.
const LocaleCase kLocales[13] = {
    {"en_US", 0x0409, 0x0409}, {"de_DE", 0x0407, 0x0407}, {"fr_FR", 0x040C, 0x040C},
    {"it_IT", 0x0410, 0x0410}, {"es_ES", 0x0C0A, 0x000A}, {"es_MX", 0x080A, 0x000A},
    {"nl_NL", 0x0413, 0x0013}, {"nl_BE", 0x0813, 0x0013}, {"sv_SE", 0x041D, 0x001D},
    {"sv_FI", 0x081D, 0x001D}, {"ca_ES", 0x0403, 0x0403}, {"pt_PT", 0x0816, 0x0816},
    {"ja_JP", 0x0411, 0x0409},
};

const LocaleCase *LocaleOfEnvironment(std::string *langOut)
{
    char lang[64];
    DWORD n = GetEnvironmentVariableA("LANG", lang, sizeof(lang));
    if (n == 0 || n >= sizeof(lang))
        lang[0] = '\0';
    if (langOut != NULL)
        *langOut = lang;
    for (const LocaleCase &c : kLocales) {
        std::string expected = std::string(c.locale) + ".UTF-8";
        if (expected == lang)
            return &c;
    }
    return NULL;
}

namespace {

// Decodes UTF-8 into code points; a malformed sequence fails the test.
std::u32string CodePoints(const char *utf8)
{
    std::u32string out;
    const unsigned char *p = (const unsigned char *)utf8;
    while (*p != 0) {
        char32_t c = *p;
        int more = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : 3;
        if (more > 0)
            c &= 0x3F >> more;
        p++;
        for (int i = 0; i < more; i++, p++) {
            if ((*p & 0xC0) != 0x80) {
                ADD_FAILURE() << "malformed UTF-8 in the expected text: " << utf8;
                return out;
            }
            c = (c << 6) | (*p & 0x3F);
        }
        out.push_back(c);
    }
    return out;
}

}  // namespace

std::wstring Utf16(const char *utf8)
{
    std::wstring out;
    for (char32_t c : CodePoints(utf8)) {
        if (c >= 0x10000) {
            out.push_back((wchar_t)(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back((wchar_t)(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back((wchar_t)c);
        }
    }
    return out;
}

std::string Cp1252(const char *utf8)
{
    // Only what the nine tables use beyond Latin-1: the typographic
    // apostrophe. Latin-1 letters keep their numbers in 1252.
    std::string out;
    for (char32_t c : CodePoints(utf8)) {
        if (c == 0x2019)
            out.push_back('\x92');
        else if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
            out.push_back((char)c);
        else
            ADD_FAILURE() << "U+" << std::hex << (unsigned)c << " has no mapping here";
    }
    return out;
}

std::string HexOf(const std::string &bytes)
{
    std::string out;
    char hex[4];
    for (unsigned char b : bytes) {
        snprintf(hex, sizeof(hex), "%02X ", b);
        out += hex;
    }
    return out;
}
