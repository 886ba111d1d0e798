#include "RegisterMapFile.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>

namespace {

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::array<TMapColumn, 4> RequiredColumns = {TMapColumn::Name, TMapColumn::Unit, TMapColumn::Function,
                                                       TMapColumn::Address};

std::string Quoted(std::string_view text)
{
    return "«" + std::string(text) + "»";
}

std::string Lower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return lower;
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

bool HasControlByte(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char c) { return uint8_t(c) < 0x20 || c == 0x7F; });
}

// The length of the UTF-8 sequence at text[at], or 0 when none starts there.
size_t Utf8Length(std::string_view text, size_t at)
{
    const auto lead = uint8_t(text[at]);
    const size_t length = lead < 0x80                    ? 1
                          : lead >= 0xC2 && lead <= 0xDF ? 2
                          : lead >= 0xE0 && lead <= 0xEF ? 3
                          : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                         : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k)
        if ((uint8_t(text[at + k]) & 0xC0) != 0x80)
            return 0;
    return length;
}

// Where the text stops being UTF-8 text (a byte no encoding of text has, or a control byte other
// than a tab or a line end), with its line; none when it is text throughout.
std::optional<std::pair<int, uint8_t>> NotText(std::string_view text)
{
    int line = 1;
    for (size_t at = 0; at < text.size();) {
        const char c = text[at];
        const size_t length = Utf8Length(text, at);
        if (length == 0 || (length == 1 && HasControlByte(text.substr(at, 1)) && c != '\t' && c != '\r' && c != '\n'))
            return std::pair{line, uint8_t(c)};
        line += c == '\n' ? 1 : 0;
        at += length;
    }
    return std::nullopt;
}

struct TRecord {
    int Line = 0;
    bool Comment = false;
    std::string Text;  // of a comment line
    std::vector<std::string> Cells;
    bool Blank() const
    {
        return !Comment && std::all_of(Cells.begin(), Cells.end(), [](const std::string& c) { return c.empty(); });
    }
};

// Splits the text into records: comment lines, and rows of cells in which a quoted cell may hold the
// delimiter, a doubled quote and line ends.
class TRecordReader {
public:
    explicit TRecordReader(std::string_view text) : Text_(text) {}

    bool AtEnd() const { return At_ >= Text_.size(); }
    int Line() const { return Line_; }
    // The line the next record starts on, without the line end.
    std::string_view PeekLine() const
    {
        const size_t end = std::min(Text_.find('\n', At_), Text_.size());
        return Trimmed(Text_.substr(At_, end - At_));
    }

    // false with error set when a quote is left open or stray.
    bool Next(char delimiter, TRecord& record, std::string& error)
    {
        record = TRecord();
        record.Line = Line_;
        const std::string_view line = PeekLine();
        if (line.starts_with('#')) {
            record.Comment = true;
            record.Text = std::string(line);
            SkipLine();
            return true;
        }
        std::string cell;
        bool quoted = false;
        while (true) {
            if (AtEnd() || Text_[At_] == '\n' || Text_[At_] == delimiter) {
                record.Cells.push_back(quoted ? cell : std::string(Trimmed(cell)));
                cell.clear();
                quoted = false;
                if (AtEnd() || Text_[At_] == '\n') {
                    SkipLine();
                    return true;
                }
                ++At_;
                continue;
            }
            if (Text_[At_] == '"' && !quoted && Trimmed(cell).empty()) {
                cell.clear();
                if (!ReadQuoted(cell)) {
                    error = "кавычка не закрыта до конца файла";
                    At_ = Text_.size();
                    return false;
                }
                quoted = true;
                // Only blanks may follow the closing quote in its cell.
                while (!AtEnd() && (Text_[At_] == ' ' || Text_[At_] == '\t' || Text_[At_] == '\r'))
                    ++At_;
                if (!AtEnd() && Text_[At_] != '\n' && Text_[At_] != delimiter) {
                    error = "после закрывающей кавычки не разделитель";
                    SkipLine();
                    return false;
                }
                continue;
            }
            if (Text_[At_] == '"') {
                error = "кавычка посреди поля";
                SkipLine();
                return false;
            }
            cell += Text_[At_++];
        }
    }

private:
    void SkipLine()
    {
        const size_t end = Text_.find('\n', At_);
        At_ = end == std::string_view::npos ? Text_.size() : end + 1;
        ++Line_;
    }

    // From the opening quote to past the closing one; a doubled quote is one quote.
    bool ReadQuoted(std::string& cell)
    {
        ++At_;
        while (At_ < Text_.size()) {
            const char c = Text_[At_++];
            if (c == '"') {
                if (At_ < Text_.size() && Text_[At_] == '"') {
                    cell += '"';
                    ++At_;
                    continue;
                }
                return true;
            }
            if (c == '\n')
                ++Line_;
            cell += c;
        }
        return false;
    }

    std::string_view Text_;
    size_t At_ = 0;
    int Line_ = 1;
};

// The delimiter of the header line: the one of ',' and ';' it has outside quotes.
std::optional<char> HeaderDelimiter(std::string_view line, std::string& error)
{
    size_t commas = 0, semicolons = 0;
    bool quoted = false;
    for (char c : line) {
        quoted = c == '"' ? !quoted : quoted;
        commas += !quoted && c == ',' ? 1 : 0;
        semicolons += !quoted && c == ';' ? 1 : 0;
    }
    if (commas > 0 && semicolons > 0) {
        error = "в заголовке и «,», и «;»: разделитель не определить";
        return std::nullopt;
    }
    return semicolons > 0 ? ';' : ',';
}

std::optional<TMapColumn> ColumnFromName(std::string_view name)
{
    for (size_t i = 0; i < MapColumnCount; ++i)
        if (MapColumnName(TMapColumn(i)) == name)
            return TMapColumn(i);
    return std::nullopt;
}

std::string KnownColumns()
{
    std::string names;
    for (size_t i = 0; i < MapColumnCount; ++i)
        names += (i ? ", " : "") + std::string(MapColumnName(TMapColumn(i)));
    return names;
}

template <class T> std::optional<T> Integer(std::string_view text)
{
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    T value{};
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || stop != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<double> Real(std::string text, bool decimalComma)
{
    if (decimalComma)
        std::replace(text.begin(), text.end(), ',', '.');
    double value = 0;
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || stop != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string RealText(double value, bool decimalComma)
{
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    std::string text(buffer.data(), result.ptr);
    if (decimalComma)
        std::replace(text.begin(), text.end(), '.', ',');
    return text;
}

std::optional<uint8_t> FunctionFromText(std::string_view text)
{
    for (uint8_t function = FunctionReadCoils; function <= FunctionReadInputRegisters; ++function)
        if (Lower(text) == MapFunctionName(function))
            return function;
    const auto number = Integer<unsigned>(text);
    if (number && *number >= FunctionReadCoils && *number <= FunctionReadInputRegisters)
        return uint8_t(*number);
    return std::nullopt;
}

// Reads the cells of one row into a point, telling each fault of it.
class TRowReader {
public:
    TRowReader(int line, const std::vector<TMapColumn>& columns, const std::vector<std::string>& cells,
               TMapReading& reading)
        : Line_(line)
        , Reading_(reading)
    {
        for (size_t i = 0; i < columns.size(); ++i)
            Cells_[size_t(columns[i])] = i < cells.size() ? cells[i] : std::string();
    }

    std::optional<TMapPoint> Read()
    {
        TMapPoint point;
        point.Line = Line_;
        point.Name = Cell(TMapColumn::Name);
        if (point.Name.empty())
            Fail(TMapColumn::Name, "пусто");
        else if (HasControlByte(point.Name))
            Fail(TMapColumn::Name, "управляющий символ в имени");
        if (const auto unit = Required<unsigned>(TMapColumn::Unit)) {
            if (*unit < MinDeviceUnit || *unit > MaxDeviceUnit)
                Fail(TMapColumn::Unit, std::to_string(*unit) + " вне 1..247");
            point.Unit = uint8_t(*unit);
        }
        ReadFunction(point);
        if (const auto address = Required<unsigned long>(TMapColumn::Address)) {
            if (*address > 65535)
                Fail(TMapColumn::Address, std::to_string(*address) + " вне 0..65535");
            point.Address = uint16_t(std::min(*address, 65535UL));
        }
        ReadType(point);
        ReadScaling(point);
        ReadAccess(point);
        point.Units = Cell(TMapColumn::Units);
        if (HasControlByte(point.Units))
            Fail(TMapColumn::Units, "управляющий символ");
        point.Description = Cell(TMapColumn::Description);
        if (!Failed_ && point.Address + point.Width() - 1 > 65535)
            Fail(TMapColumn::Address, std::to_string(point.Address) + ": точка в " + std::to_string(point.Width()) +
                                          " регистра выходит за 65535");
        if (Failed_)
            return std::nullopt;
        return point;
    }

    bool OrderIgnored() const { return OrderIgnored_; }

private:
    const std::string& Cell(TMapColumn column) const { return Cells_[size_t(column)]; }

    void Fail(TMapColumn column, std::string reason)
    {
        Reading_.Errors.push_back({Line_, std::string(MapColumnName(column)), std::move(reason)});
        Failed_ = true;
    }

    template <class T> std::optional<T> Required(TMapColumn column)
    {
        const std::string& text = Cell(column);
        if (text.empty()) {
            Fail(column, "пусто");
            return std::nullopt;
        }
        const auto value = Integer<T>(text);
        if (!value)
            Fail(column, Quoted(text) + " не целое число");
        return value;
    }

    void ReadFunction(TMapPoint& point)
    {
        const std::string& text = Cell(TMapColumn::Function);
        if (text.empty()) {
            Fail(TMapColumn::Function, "пусто");
            return;
        }
        const auto function = FunctionFromText(text);
        if (!function) {
            Fail(TMapColumn::Function, Quoted(text) + " не coil, discrete, holding, input или 1..4");
            return;
        }
        point.Function = *function;
    }

    void ReadType(TMapPoint& point)
    {
        const std::string& type = Cell(TMapColumn::Type);
        const std::string& order = Cell(TMapColumn::Order);
        const std::string& count = Cell(TMapColumn::Count);
        if (point.IsBit()) {
            const std::string bits = " у " + std::string(MapFunctionName(point.Function)) + " (бит) нет";
            if (!type.empty())
                Fail(TMapColumn::Type, Quoted(type) + ":" + bits + " типа");
            if (!order.empty())
                Fail(TMapColumn::Order, Quoted(order) + ":" + bits + " порядка слов");
            if (!count.empty())
                Fail(TMapColumn::Count, Quoted(count) + ": только для типа ascii");
            return;
        }
        if (!type.empty()) {
            const auto parsed = DataTypeFromName(type);
            if (parsed)
                point.Type = *parsed;
            else
                Fail(TMapColumn::Type, Quoted(type) + " не тип данных");
        }
        if (!order.empty()) {
            const auto parsed = WordOrderFromName(order);
            if (parsed) {
                // One register has no words to order: kept as the default, so that it is written so.
                OrderIgnored_ = point.Type != TDataType::Ascii && !IsMultiRegisterType(point.Type);
                point.Order = OrderIgnored_ ? TWordOrder::ABCD : *parsed;
            } else {
                Fail(TMapColumn::Order, Quoted(order) + " не ABCD, CDAB, BADC или DCBA");
            }
        }
        if (point.Type != TDataType::Ascii) {
            if (!count.empty())
                Fail(TMapColumn::Count, Quoted(count) + ": только для типа ascii");
            return;
        }
        const auto registers = count.empty() ? std::nullopt : Integer<unsigned>(count);
        if (!registers || *registers < 1 || *registers > MaxReadCount(point.Function))
            Fail(TMapColumn::Count,
                 (count.empty() ? std::string("пусто") : Quoted(count)) + ": у ascii число регистров 1..125");
        else
            point.Count = uint16_t(*registers);
    }

    void ReadScaling(TMapPoint& point)
    {
        const struct {
            TMapColumn Column;
            double& Value;
            double Default;
        } fields[] = {{TMapColumn::Scale, point.Scale, 1.0}, {TMapColumn::Offset, point.Offset, 0.0}};
        for (const auto& field : fields) {
            const std::string& text = Cell(field.Column);
            if (text.empty())
                continue;
            const bool comma = Reading_.Map.Delimiter == ';' && text.find(',') != std::string::npos;
            const auto value = Real(text, Reading_.Map.Delimiter == ';');
            if (!value) {
                Fail(field.Column, Quoted(text) + " не число");
                continue;
            }
            Reading_.Map.DecimalComma |= comma;
            if (field.Column == TMapColumn::Scale && *value == 0)
                Fail(field.Column, "0: все значения стали бы одинаковыми");
            else if (!point.IsNumber() && *value != field.Default)
                Fail(field.Column,
                     Quoted(text) + ": только для чисел, не для " +
                         std::string(point.IsBit() ? MapFunctionName(point.Function) : DataTypeName(point.Type)));
            field.Value = *value;
        }
    }

    void ReadAccess(TMapPoint& point)
    {
        const std::string access = Lower(Cell(TMapColumn::Access));
        if (access.empty() || access == "r")
            return;
        if (access != "rw") {
            Fail(TMapColumn::Access, Quoted(Cell(TMapColumn::Access)) + " не r или rw");
            return;
        }
        if (point.Function == FunctionReadDiscreteInputs || point.Function == FunctionReadInputRegisters)
            Fail(TMapColumn::Access, std::string(MapFunctionName(point.Function)) + " только читается");
        point.Writable = true;
    }

    int Line_;
    TMapReading& Reading_;
    std::array<std::string, MapColumnCount> Cells_;
    bool Failed_ = false;
    bool OrderIgnored_ = false;
};

TMapReading TooLarge()
{
    return {{}, {{0, "", "файл больше " + std::to_string(MaxRegisterMapBytes / 1024) + " КиБ"}}, {}};
}

std::string LinesText(const std::vector<int>& lines)
{
    std::string text;
    for (int line : lines)
        text += (text.empty() ? "" : ", ") + std::to_string(line);
    return text;
}

// The header's columns, or none with the header's faults told.
std::optional<std::vector<TMapColumn>> HeaderColumns(const TRecord& header, TMapReading& reading)
{
    std::vector<TMapColumn> columns;
    const size_t errors = reading.Errors.size();
    // A spreadsheet may add empty columns at the end.
    auto named = header.Cells;
    while (!named.empty() && named.back().empty())
        named.pop_back();
    for (const std::string& cell : named) {
        const auto column = ColumnFromName(Lower(cell));
        if (!column)
            reading.Errors.push_back(
                {header.Line, "", "неизвестный столбец " + Quoted(cell) + " (известны: " + KnownColumns() + ")"});
        else if (std::find(columns.begin(), columns.end(), *column) != columns.end())
            reading.Errors.push_back({header.Line, "", "столбец " + Quoted(cell) + " назван дважды"});
        else
            columns.push_back(*column);
    }
    for (TMapColumn required : RequiredColumns)
        if (std::find(columns.begin(), columns.end(), required) == columns.end())
            reading.Errors.push_back({header.Line, "", "нет обязательного столбца " + Quoted(MapColumnName(required))});
    if (reading.Errors.size() != errors)
        return std::nullopt;
    return columns;
}

bool NeedsQuotes(std::string_view text, char delimiter)
{
    return text.find_first_of(std::string{delimiter, '"', '\n', '\r'}) != std::string_view::npos ||
           text.starts_with('#') || text != Trimmed(text);
}

std::string Field(std::string_view text, char delimiter)
{
    if (!NeedsQuotes(text, delimiter))
        return std::string(text);
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// Whether the point has something other than the default in the column.
bool Differs(const TMapPoint& point, TMapColumn column)
{
    switch (column) {
    case TMapColumn::Type: return !point.IsBit() && point.Type != TDataType::UInt16;
    case TMapColumn::Order: return !point.IsBit() && point.Order != TWordOrder::ABCD;
    case TMapColumn::Count: return !point.IsBit() && point.Type == TDataType::Ascii;
    case TMapColumn::Scale: return point.Scale != 1;
    case TMapColumn::Offset: return point.Offset != 0;
    case TMapColumn::Units: return !point.Units.empty();
    case TMapColumn::Access: return point.Writable;
    case TMapColumn::Description: return !point.Description.empty();
    default: return true;
    }
}

std::string Cell(const TMapPoint& point, TMapColumn column, const TRegisterMap& map)
{
    switch (column) {
    case TMapColumn::Name: return point.Name;
    case TMapColumn::Unit: return std::to_string(point.Unit);
    case TMapColumn::Function: return std::string(MapFunctionName(point.Function));
    case TMapColumn::Address: return std::to_string(point.Address);
    case TMapColumn::Type: return point.IsBit() ? "" : std::string(DataTypeName(point.Type));
    // A one-register number has no words to order: an order there would only be told as ignored.
    case TMapColumn::Order:
        return point.IsBit() || (point.Type != TDataType::Ascii && !IsMultiRegisterType(point.Type))
                   ? ""
                   : std::string(WordOrderName(point.Order));
    case TMapColumn::Count: return Differs(point, column) ? std::to_string(point.Count) : "";
    case TMapColumn::Scale: return RealText(point.Scale, map.DecimalComma);
    case TMapColumn::Offset: return RealText(point.Offset, map.DecimalComma);
    case TMapColumn::Units: return point.Units;
    case TMapColumn::Access: return point.Writable ? "rw" : "r";
    case TMapColumn::Description: return point.Description;
    }
    return {};
}

}  // namespace

std::string TMapError::Text() const
{
    if (Line == 0)
        return Reason;
    return "строка " + std::to_string(Line) + (Column.empty() ? ": " : ", " + Column + ": ") + Reason;
}

TMapReading ParseRegisterMap(std::string_view text)
{
    TMapReading reading;
    if (text.size() > MaxRegisterMapBytes)
        return TooLarge();
    if (text.starts_with(ByteOrderMark))
        text.remove_prefix(ByteOrderMark.size());
    if (const auto stray = NotText(text)) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X", stray->second);
        reading.Errors.push_back({stray->first, "", "не текст UTF-8: байт " + std::string(byte)});
        return reading;
    }

    TRecordReader records(text);
    TRecord record;
    std::string error;
    std::vector<std::string> comments;
    // The header: the first line that is neither blank nor a comment.
    while (!records.AtEnd() && (records.PeekLine().empty() || records.PeekLine().starts_with('#')))
        if (records.Next(',', record, error) && record.Comment)
            comments.push_back(record.Text);
    if (records.AtEnd()) {
        reading.Errors.push_back({0, "", "в файле нет заголовка"});
        return reading;
    }
    const int headerLine = records.Line();
    const auto delimiter = HeaderDelimiter(records.PeekLine(), error);
    if (!delimiter) {
        reading.Errors.push_back({headerLine, "", error});
        return reading;
    }
    reading.Map.Delimiter = *delimiter;
    if (!records.Next(*delimiter, record, error)) {
        reading.Errors.push_back({headerLine, "", error});
        return reading;
    }
    const auto columns = HeaderColumns(record, reading);
    if (!columns)
        return reading;
    reading.Map.Columns = *columns;

    std::map<std::string, int> names;
    std::vector<int> orderIgnored;
    while (!records.AtEnd()) {
        const int line = records.Line();
        if (!records.Next(*delimiter, record, error)) {
            reading.Errors.push_back({line, "", error});
            continue;
        }
        if (record.Comment) {
            comments.push_back(record.Text);
            continue;
        }
        if (record.Blank())
            continue;
        // A spreadsheet may end a row with empty cells past the header's.
        while (record.Cells.size() > columns->size() && record.Cells.back().empty())
            record.Cells.pop_back();
        if (record.Cells.size() > columns->size()) {
            reading.Errors.push_back({line, "",
                                      std::to_string(record.Cells.size()) + " полей, а столбцов в заголовке " +
                                          std::to_string(columns->size())});
            continue;
        }
        TRowReader row(line, *columns, record.Cells, reading);
        auto point = row.Read();
        if (!point)
            continue;
        const auto [named, added] = names.emplace(point->Name, line);
        if (!added) {
            reading.Errors.push_back(
                {line, "name", Quoted(point->Name) + " уже в строке " + std::to_string(named->second)});
            continue;
        }
        if (row.OrderIgnored())
            orderIgnored.push_back(line);
        point->Comments = std::move(comments);
        comments.clear();
        reading.Map.Points.push_back(std::move(*point));
    }
    reading.Map.TrailingComments = std::move(comments);
    if (reading.Ok() && reading.Map.Points.empty())
        reading.Errors.push_back({0, "", "в карте нет ни одной точки"});
    if (!orderIgnored.empty())
        reading.Notes.push_back("порядок слов не действует на тип в один регистр (строки " + LinesText(orderIgnored) +
                                ")");
    return reading;
}

TMapReading ReadRegisterMapFile(const std::string& fileName)
{
    std::string content;
    switch (ReadBoundedFile(fileName, MaxRegisterMapBytes, content)) {
    case TFileReadResult::Read: return ParseRegisterMap(content);
    case TFileReadResult::TooLarge: return TooLarge();
    case TFileReadResult::Missing: return {{}, {{0, "", fileName + ": файл не найден"}}, {}};
    default: return {{}, {{0, "", fileName + ": файл не прочитать"}}, {}};
    }
}

std::string RegisterMapText(const TRegisterMap& map)
{
    std::vector<TMapColumn> columns = map.Columns;
    for (size_t i = 0; i < MapColumnCount; ++i) {
        const auto column = TMapColumn(i);
        const bool needed = std::any_of(map.Points.begin(), map.Points.end(),
                                        [column](const TMapPoint& point) { return Differs(point, column); });
        if (needed && std::find(columns.begin(), columns.end(), column) == columns.end())
            columns.push_back(column);
    }
    const auto appendRow = [&](std::string& text, const auto& cellOf) {
        for (size_t i = 0; i < columns.size(); ++i)
            text += (i ? std::string(1, map.Delimiter) : std::string()) + Field(cellOf(columns[i]), map.Delimiter);
        text += '\n';
    };
    std::string text;
    const auto appendComments = [&](const std::vector<std::string>& comments) {
        for (const std::string& comment : comments)
            text += comment + '\n';
    };
    // Comments before the first point stood before the header too: they stay at the top.
    if (!map.Points.empty())
        appendComments(map.Points.front().Comments);
    appendRow(text, [](TMapColumn column) { return std::string(MapColumnName(column)); });
    for (size_t i = 0; i < map.Points.size(); ++i) {
        if (i > 0)
            appendComments(map.Points[i].Comments);
        appendRow(text, [&](TMapColumn column) { return Cell(map.Points[i], column, map); });
    }
    appendComments(map.TrailingComments);
    return text;
}

TFileWriteResult WriteRegisterMapFile(const std::string& fileName, const TRegisterMap& map)
{
    return WriteWholeFile(fileName, RegisterMapText(map));
}
