// Register map files read as an engineer writes them in a spreadsheet: what a good file gives, every
// error of a bad one with its line, and the file written back as it was.
#include "RegisterMapFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Messages(const TMapReading& reading)
{
    std::vector<std::string> messages;
    for (const TMapError& error : reading.Errors)
        messages.push_back(error.Text());
    return messages;
}

// name unit function@address type order count scale offset units access: the point as a line.
std::string Summary(const TMapPoint& p)
{
    std::string text = p.Name + " u" + std::to_string(p.Unit) + " " + std::string(MapFunctionName(p.Function)) + "@" +
                       std::to_string(p.Address);
    if (!p.IsBit())
        text += " " + std::string(DataTypeName(p.Type)) + " " + std::string(WordOrderName(p.Order)) + " x" +
                std::to_string(p.Width());
    text += " *" + DeviceValueText(p.Scale) + " +" + DeviceValueText(p.Offset);
    if (!p.Units.empty())
        text += " " + p.Units;
    if (p.Writable)
        text += " rw";
    if (!p.Description.empty())
        text += " «" + p.Description + "»";
    return text;
}

}  // namespace

TEST(RegisterMapFile, ReadsGoodFiles)
{
    const struct {
        const char* Name;
        std::string Text;
        std::vector<std::string> Points;
        std::vector<std::string> Notes;
    } cases[] = {
        {"the four required columns, numbers for functions",
         "name,unit,function,address\nA,1,3,0\nB,247,4,0x10\nC,2,1,7\nD,2,2,65535\n",
         {"A u1 holding@0 uint16 ABCD x1 *1 +0", "B u247 input@16 uint16 ABCD x1 *1 +0", "C u2 coil@7 *1 +0",
          "D u2 discrete@65535 *1 +0"},
         {}},
        {"a spreadsheet's ';' file: BOM, comments, blank rows, decimal commas, quoted cells, any case",
         "\xEF\xBB\xBF# meters\r\nName;UNIT;function;address;type;order;scale;offset;units;access;description\r\n\r\n"
         "U;5;input;0;float32;cdab;;;V;;\"phase; L1\"\r\n;;;;;;;;;;\r\n# energy\r\n"
         "E;5;input;6;uint32;;0,001;-1,5;kWh;r;\"two\nlines, \"\"quoted\"\"\"\r\nSP;5;HOLDING;1;float32;;;;;RW;\r\n",
         {"U u5 input@0 float32 CDAB x2 *1 +0 V «phase; L1»",
          "E u5 input@6 uint32 ABCD x2 *0.001 +-1.5 kWh «two\nlines, \"quoted\"»",
          "SP u5 holding@1 float32 ABCD x2 *1 +0 rw"},
         {}},
        {"ascii with its count; an order on one register said once; spreadsheet's empty columns",
         "name,unit,function,address,type,order,count,,\nN,1,holding,8,ascii,BADC,5,,\nT,1,input,9,int16,DCBA,,,\n"
         "S,1,input,8,hex,CDAB,,\n",
         {"N u1 holding@8 ascii BADC x5 *1 +0", "T u1 input@9 int16 ABCD x1 *1 +0", "S u1 input@8 hex ABCD x1 *1 +0"},
         {"порядок слов не действует на тип в один регистр (строки 3, 4)"}},
    };
    for (const auto& c : cases) {
        const TMapReading reading = ParseRegisterMap(c.Text);
        EXPECT_TRUE(reading.Ok()) << c.Name << ": " << (reading.Errors.empty() ? "" : reading.Errors[0].Text());
        std::vector<std::string> points;
        for (const TMapPoint& point : reading.Map.Points)
            points.push_back(Summary(point));
        EXPECT_EQ(points, c.Points) << c.Name;
        EXPECT_EQ(reading.Notes, c.Notes) << c.Name;
    }
}

TEST(RegisterMapFile, RefusesBadFilesWithEveryErrorByLine)
{
    const std::string head = "name,unit,function,address,type,count,scale,access\n";
    const struct {
        const char* Name;
        std::string Text;
        std::vector<std::string> Errors;
    } cases[] = {
        {"address past the wire's range", head + "U,1,holding,70000\n", {"строка 2, address: 70000 вне 0..65535"}},
        {"every error of the file at once, lines counted over comments and blank lines",
         "# meter 5\nname;unit;function;address;type\n\nU1;0;holding;0;float32\nU2;1;input;2;float\nI;1;coils;4;\n"
         "V;1;input;2;int16\nV;2;input;3;\nW;x;input;;\n",
         {"строка 4, unit: 0 вне 1..247", "строка 5, type: «float» не тип данных",
          "строка 6, function: «coils» не coil, discrete, holding, input или 1..4",
          "строка 8, name: «V» уже в строке 7", "строка 9, unit: «x» не целое число", "строка 9, address: пусто"}},
        {"a value too wide for the end of the address range",
         head + "F,1,holding,65534,float64\n",
         {"строка 2, address: 65534: точка в 4 регистра выходит за 65535"}},
        {"bits have no type, ascii needs its count, text has no scale, input is read only",
         head +
             "C,1,coil,0,float32\nN,1,holding,8,ascii\nH,1,holding,0,hex,,2\nR,1,input,0,,,,rw\nK,1,holding,0,int16,3\n"
             "Z,1,holding,0,,,0\nQ,1,holding,0,,,1,w\n",
         {"строка 2, type: «float32»: у coil (бит) нет типа", "строка 3, count: пусто: у ascii число регистров 1..125",
          "строка 4, scale: «2»: только для чисел, не для hex", "строка 5, access: input только читается",
          "строка 6, count: «3»: только для типа ascii", "строка 7, scale: 0: все значения стали бы одинаковыми",
          "строка 8, access: «w» не r или rw"}},
        {"unknown and missing columns, named",
         "name,unit,adress,colour\nU,1,0,red\n",
         {"строка 1: неизвестный столбец «adress» (известны: name, unit, function, address, type, order, count, "
          "scale, offset, units, access, description)",
          "строка 1: неизвестный столбец «colour» (известны: name, unit, function, address, type, order, count, "
          "scale, offset, units, access, description)",
          "строка 1: нет обязательного столбца «function»", "строка 1: нет обязательного столбца «address»"}},
        {"a column twice", "name,unit,function,address,Unit\n", {"строка 1: столбец «Unit» назван дважды"}},
        {"both delimiters in the header",
         "name,unit;function,address\n",
         {"строка 1: в заголовке и «,», и «;»: разделитель не определить"}},
        {"more cells than columns, quotes astray",
         head + "U,1,holding,0,,,,,5\nV,1,holding,0,\"int16\nW,1,x,0\n",
         {"строка 2: 9 полей, а столбцов в заголовке 8", "строка 3: кавычка не закрыта до конца файла"}},
        {"a quote in the middle of a cell", head + "U,1,hol\"ding,0\n", {"строка 2: кавычка посреди поля"}},
        {"not text", head + "U,1,holding,0\nV,1,holding,\x01\n", {"строка 3: не текст UTF-8: байт 0x01"}},
        {"not UTF-8", head + "U,1,holding,0\xFF\n", {"строка 2: не текст UTF-8: байт 0xFF"}},
        {"too large", std::string(MaxRegisterMapBytes + 1, '#'), {"файл больше 1024 КиБ"}},
        {"no row", "# nothing yet\n" + head + "\n# later\n", {"в карте нет ни одной точки"}},
        {"no header", "\n# only comments\n", {"в файле нет заголовка"}},
    };
    for (const auto& c : cases) {
        const TMapReading reading = ParseRegisterMap(c.Text);
        EXPECT_EQ(Messages(reading), c.Errors) << c.Name;
    }
    EXPECT_EQ(Messages(ReadRegisterMapFile("/nonexistent/map.csv")),
              std::vector<std::string>{"/nonexistent/map.csv: файл не найден"});
}

// The columns and rows stay in their order with their comments; defaults stay empty where the file
// had them empty, and what is read back is the same map.
TEST(RegisterMapFile, WritesTheMapBackAsItWas)
{
    const std::string text = "# three meters\naddress;name;unit;function;type;scale;units\n"
                             "0;U;5;input;float32;1;V\n# energy\n6;E;5;input;uint32;0,001;kWh\n"
                             "3;\"#odd; name\";5;coil;;1;\n# end\n";
    const TMapReading reading = ParseRegisterMap(text);
    ASSERT_TRUE(reading.Ok()) << reading.Errors.front().Text();
    EXPECT_EQ(RegisterMapText(reading.Map), text);
    EXPECT_EQ(ParseRegisterMap(RegisterMapText(reading.Map)).Map, reading.Map);

    // A point made in the program brings the columns it needs, after the file's own.
    TRegisterMap map = reading.Map;
    TMapPoint added;
    added.Name = "N";
    added.Address = 8;
    added.Type = TDataType::Ascii;
    added.Order = TWordOrder::BADC;
    added.Count = 5;
    added.Writable = true;
    map.Points.push_back(added);
    const std::string written = RegisterMapText(map);
    EXPECT_NE(written.find("address;name;unit;function;type;scale;units;order;count;access\n"), std::string::npos)
        << written;
    EXPECT_NE(written.find("8;N;1;holding;ascii;1;;BADC;5;rw\n# end\n"), std::string::npos) << written;
    const TMapReading back = ParseRegisterMap(written);
    ASSERT_TRUE(back.Ok());
    EXPECT_EQ(back.Map.Points, map.Points);
}

TEST(RegisterMap, DecodesAPointFromItsRegisters)
{
    const auto point = [](TDataType type, double scale, double offset) {
        TMapPoint p;
        p.Type = type;
        p.Scale = scale;
        p.Offset = offset;
        return p;
    };
    TMapPoint coil;
    coil.Function = FunctionReadCoils;
    const struct {
        TMapPoint Point;
        std::vector<uint16_t> Raw;
        const char* Value;
    } cases[] = {
        {point(TDataType::Int16, 0.1, 0), {2301}, "230.1"},  // as the manual's decimal, not 230.10000000000002
        {point(TDataType::Int16, 0.1, -50), {0xFFFF}, "-50.1"},
        {point(TDataType::UInt32, 0.001, 0), {0x0001, 0x0000}, "65.536"},
        {point(TDataType::Float32, 1, 0), {0x4366, 0x8000}, "230.5"},  // stays a float32
        {point(TDataType::Float32, 2, 1), {0x4366, 0x8000}, "462"},
        {point(TDataType::UInt16, 1, 0), {65535, 7}, "65535"},  // only its own register
        {point(TDataType::Float32, 1, 0), {0x4366}, "-"},       // too few registers: no value
        {coil, {1}, "1"},
    };
    for (const auto& c : cases) {
        const auto value = DecodePoint(c.Point, c.Raw);
        EXPECT_EQ(value ? DeviceValueText(*value) : "-", c.Value) << DataTypeName(c.Point.Type);
    }
}
