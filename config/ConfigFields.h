#pragma once
// Every field of the configuration record that the operator edits, in the one table that the file
// reader and writer, the window's display and collection, the file check, the comparison and the
// verification all walk: where the field lives in the INI file and in the record, what the window
// calls it, which control edits it in which role, and the range as that control applies it.

#include "ModuleConfig.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class TFieldFormat {
    Address,   // dotted IPv4 address
    Number,    // unsigned decimal
    BaudRate,  // the rate's text from BaudRates
    Parity,    // 0..2, shown by name
    StopBits,  // code 0..1, written and shown as 1 or 2
};

// The channel role in which the window lets the operator edit the field.
enum class TFieldRole { Always, Master, Slave };

// How the window's control treats a value it is given to show.
enum class TFieldFit {
    None,   // any value of the field is shown and sent as it is (addresses, the held times)
    Clamp,  // a spin edit: the value is put into its range
    Check,  // a spin edit whose range has equal ends: the value is shown, and refused when collected
    List,   // a list: an index it does not have selects its first entry
};

struct TConfigField {
    std::string Section;  // "IP", "CHANNEL_0" or "CHANNEL_1"
    std::string Key;      // the INI key, e.g. "BAUDRATE"
    std::string Page;     // the window's page, e.g. "RS-485 Канал 1"
    std::string Label;    // the control's label on that page, e.g. "Скорость"
    TFieldFormat Format;
    size_t Offset;  // into TModuleConfig
    int Channel;    // the channel the field belongs to, or -1 for the TCP/IP page
    // The control's object name on its page or channel frame; a field that no control shows is a
    // property of the same name of the frame that holds it.
    std::string Control;
    TFieldRole Role;
    TFieldFit Fit;
    int32_t Min;  // the range the control applies, in the record's units
    int32_t Max;
    // The window's message for a text the collection refuses; "%text" stands for the control's text
    // and "%range" for "Min..Max". Empty for a field the collection never refuses.
    std::string Message;
    bool Identity;        // part of the module's own network identity: its address or its port
    size_t FilePosition;  // the key's place in its section of a new file
};

// In the order in which the window collects and checks the controls: the TCP/IP page, then channel
// 1, then channel 2.
const std::vector<TConfigField>& ConfigFields();
// The table's entry for the key of a section, or nullptr.
const TConfigField* FindConfigField(const std::string& section, const std::string& key);

size_t FieldSize(const TConfigField& field);

struct TByteRange {
    size_t Offset;
    size_t Size;
};
// The runs of bytes before the checksum that no field covers, each within its record (the module's,
// a channel's): the reserved bytes.
const std::vector<TByteRange>& ReservedRanges();
bool FieldEquals(const TModuleConfig& a, const TModuleConfig& b, const TConfigField& field);
std::vector<const TConfigField*> DifferingFields(const TModuleConfig& a, const TModuleConfig& b);

// A word field's value (the index of a list, the code of the stop bits), and an address field's.
uint16_t FieldWord(const TModuleConfig& config, const TConfigField& field);
void SetFieldWord(TModuleConfig& config, const TConfigField& field, uint16_t value);
TIPAddress FieldAddress(const TModuleConfig& config, const TConfigField& field);
void SetFieldAddress(TModuleConfig& config, const TConfigField& field, const TIPAddress& address);

// Whether a module can hold the field's value: an index of a list (the baud rate, the parity, the
// stop bits) within its list, and the role a master's 0 or a slave's one-byte address. The other
// fields hold whatever their type holds. A value outside is no module's: another device answered.
bool FieldPossible(const TModuleConfig& config, const TConfigField& field);
std::vector<const TConfigField*> ImpossibleFields(const TModuleConfig& config);

// The value as SaveConfigToFile writes it for this key.
std::string FieldIniText(const TModuleConfig& config, const TConfigField& field);
// The value as the window shows it: the parity by name, the rest as in the file; a value no module
// holds as the word it is (a baud rate's as "индекс 25").
std::string FieldDisplayText(const TModuleConfig& config, const TConfigField& field);

// "Min..Max", as the window's messages quote a range.
std::string FieldRangeText(const TConfigField& field);
// The window's message for the control's text that the collection refuses.
std::string FieldCheckMessage(const TConfigField& field, const std::string& text);
