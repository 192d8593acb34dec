#include "cli/Help.h"

#include <algorithm>
#include <array>

#include "config/Nearest.h"

namespace vek {

namespace {

struct OptionHelp {
    const char* name;   // long name
    const char* shown;  // as the help lists it
    const char* what;
};

constexpr std::array kOptions{
    OptionHelp{"port", "-p, --port PORTA",
               "a porta do Vek; sem -p vale VEKCTL_PORT, e sem ela o único Vek que responder "
               "nas portas USB"},
    OptionHelp{"output", "-o, --output ARQ", "grava o perfil em ARQ em vez da saída padrão"},
    OptionHelp{"raw", "    --raw ARQ", "grava também o bloco de 2032 bytes lido, como veio"},
    OptionHelp{"force", "    --force", "envia o firmware mesmo a um Vek atualizado"},
    OptionHelp{"downgrade", "    --downgrade",
               "volta ao firmware do VekTool um Vek com firmware mais novo"},
    OptionHelp{"allow-old-firmware", "    --allow-old-firmware",
               "grava mesmo num Vek cujo firmware precisa de atualização"},
    OptionHelp{"probe", "    --probe", "pergunta a cada porta USB o que está ligado nela"},
    OptionHelp{"profile", "    --profile ARQ", "o perfil a gravar"},
    OptionHelp{"all", "    --all", "todas as portas USB presentes"},
    OptionHelp{"watch", "    --watch", "continua e atende cada Vek que for ligado, até Ctrl-C"},
    OptionHelp{"record", "    --record ARQ",
               "acrescenta a visita ao diário ARQ: uma linha JSON por visita, encadeada à "
               "anterior"},
    OptionHelp{"station", "    --station NOME",
               "o nome da estação nas linhas do diário (padrão: o nome do host)"},
    OptionHelp{"sync", "    --sync URL",
               "envia cada visita do diário ao servidor do histórico depois de gravada, e as "
               "que ficaram de antes; um servidor fora do ar não atrasa nem falha o atendimento "
               "(padrão: VEKCTL_SYNC)"},
    OptionHelp{"to", "    --to URL", "o servidor do histórico (padrão: VEKCTL_SYNC)"},
    OptionHelp{"token", "    --token T",
               "o token da estação no servidor do histórico (padrão: VEKCTL_TOKEN)"},
    OptionHelp{"jobs", "    --jobs N", "no máximo N Vek atendidos ao mesmo tempo (padrão 64)"},
    OptionHelp{"csv", "    --csv", "a última visita de cada Vek em CSV"},
    OptionHelp{"timeout", "    --timeout S",
               "quanto esperar pelo status do Vek, em segundos (padrão 3)"},
    OptionHelp{"json", "    --json",
               "o resultado em JSON na saída padrão: um documento (eventos um por linha no update "
               "e no provision)"},
    OptionHelp{"quiet", "-q, --quiet", "só os erros na saída de erros"},
    OptionHelp{"help", "-h, --help", "esta ajuda"},
    OptionHelp{"version", "-V, --version", "a versão"},
};

struct CommandEntry {
    const char* name;
    const char* usage;
    const char* what;
    std::vector<const char*> options;
    const char* example;
};

const std::vector<CommandEntry>& commands() {
    static const std::vector<CommandEntry> table{
        {"list",
         "list [--probe]",
         "As portas seriais, com o nome estável em /dev/serial/by-id; com --probe, o que responde "
         "em cada porta USB, todas ao mesmo tempo.",
         {"probe"},
         "vekctl list --probe"},
        {"info",
         "info [-p PORTA]",
         "A identificação: modo, identificador, versão, base da configuração e o que o VekTool "
         "faria com o firmware.",
         {"port"},
         "vekctl info -p /dev/ttyACM0"},
        {"update",
         "update [-p PORTA] [--force] [--downgrade] [--record ARQ [--sync URL]]",
         "Envia o firmware do VekTool quando o do Vek é mais antigo e confirma a nova versão. "
         "Interrompido, o Vek fica no bootloader até uma atualização completa.",
         {"port", "force", "downgrade", "record", "station", "sync", "token"},
         "vekctl update -p id:0011A2B3-44C5D6E7-8899FA0B"},
        {"config get",
         "config get [-p PORTA] [-o ARQ] [--raw ARQ]",
         "Lê a configuração do Vek num perfil (JSON).",
         {"port", "output", "raw"},
         "vekctl config get -p /dev/ttyACM0 -o van-7.json"},
        {"config set",
         "config set [-p PORTA] ARQ [--allow-old-firmware] [--record ARQ [--sync URL]]",
         "Confere o perfil como a janela confere, grava e lê de volta. Recusa um Vek cujo "
         "firmware precisa de atualização: rode vekctl update antes.",
         {"port", "allow-old-firmware", "record", "station", "sync", "token"},
         "vekctl config set -p /dev/ttyACM1 van-7.json"},
        {"config check",
         "config check ARQ",
         "Confere um perfil sem tocar em nenhum Vek e diz todos os problemas de uma vez.",
         {},
         "vekctl config check frota.json"},
        {"config diff",
         "config diff A B",
         "Os campos que diferem de A para B; cada lado é um perfil ou port:PORTA.",
         {},
         "vekctl config diff van-7.json port:/dev/ttyACM0"},
        {"preset",
         "preset default|trevalo [-o ARQ]",
         "O preset como perfil.",
         {"output"},
         "vekctl preset trevalo -o trevalo.json"},
        {"remote-commands",
         "remote-commands ARQ",
         "Os nove comandos de configuração remota do perfil, um por linha.",
         {},
         "vekctl remote-commands frota.json"},
        {"provision",
         "provision --profile ARQ [-p PORTA ...|--all] [--watch] [--record ARQ [--sync URL]] "
         "[--jobs N]",
         "A estação: cada Vek identificado, com o firmware em dia, o perfil gravado (se já não o "
         "guarda) e verificado, e a visita registrada; as portas ao mesmo tempo.",
         {"profile", "port", "all", "watch", "record", "station", "sync", "token", "jobs"},
         "vekctl provision --watch --all --profile frota.json --record visitas.jsonl"},
        {"report",
         "report ARQ [--csv]",
         "O diário: os totais por resultado e a última visita de cada Vek.",
         {"csv"},
         "vekctl report visitas.jsonl --csv > ultimas.csv"},
        {"sync",
         "sync ARQ --to URL [--token T]",
         "Envia ao servidor do histórico as visitas do diário ARQ que ele ainda não confirmou "
         "(um notebook de volta ao escritório).",
         {"to", "token"},
         "vekctl sync visitas.jsonl --to https://historico.empresa:8470"},
        {"help", "help [COMANDO]", "Esta ajuda, ou a de um comando.", {}, "vekctl help provision"},
    };
    return table;
}

const CommandEntry* entryOf(const std::string& name) {
    const auto& table = commands();
    const auto it = std::find_if(table.begin(), table.end(),
                                 [&](const CommandEntry& c) { return name == c.name; });
    return it == table.end() ? nullptr : &*it;
}

const OptionHelp* optionOf(const std::string& name) {
    const auto it = std::find_if(kOptions.begin(), kOptions.end(),
                                 [&](const OptionHelp& o) { return name == o.name; });
    return it == kOptions.end() ? nullptr : &*it;
}

constexpr std::size_t kWidth = 96;

// text in lines of at most kWidth characters, each after indent spaces but the first, which goes
// on from column start.
std::string wrapped(const std::string& text, std::size_t indent, std::size_t start) {
    std::string lines;
    std::size_t column = start;
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t end = text.find(' ', from);
        if (end == std::string::npos)
            end = text.size();
        const std::string word = text.substr(from, end - from);
        // Columns, not bytes: the accents of Portuguese take two bytes each.
        const auto width = std::size_t(
            std::count_if(word.begin(), word.end(), [](char c) { return (c & 0xC0) != 0x80; }));
        if (column > start && column + 1 + width > kWidth) {
            lines += "\n" + std::string(indent, ' ');
            column = indent;
        } else if (column > start) {
            lines += ' ';
            ++column;
        }
        lines += word;
        column += width;
        from = end + 1;
    }
    return lines + "\n";
}

// "  -p, --port PORTA     a porta ..." with the text wrapped under its column.
std::string optionLine(const OptionHelp& option) {
    constexpr std::size_t kColumn = 26;
    std::string line = "  " + std::string(option.shown);
    line += line.size() < kColumn ? std::string(kColumn - line.size(), ' ')
                                  : "\n" + std::string(kColumn, ' ');
    return line + wrapped(option.what, kColumn, kColumn);
}

constexpr const char* kCommonOptions[] = {"timeout", "json", "quiet", "help"};

constexpr const char* kPortsAndCodes = R"(
PORTA é um caminho (/dev/ttyACM0), um nome de dispositivo (ttyACM0) ou id: seguido do
identificador como a janela o mostra (id:0011A2B3-44C5D6E7-8899FA0B), que procura em todas as
portas. Portas de VEKTOOL_PORTS entram na lista.

Códigos de saída:
  0    sucesso
  1    a operação falhou na ligação com o Vek (ERRO #0x01 a #0x04, porta perdida)
  2    uso errado da linha de comando (ou vários Vek e nenhum -p)
  3    perfil inválido (nada foi enviado ao Vek)
  4    a porta não pôde ser aberta (sem permissão, inexistente, em uso)
  5    nenhum Vek respondeu
  6    o Vek não confirmou o que foi gravado, ou os perfis comparados diferem
  7    o Vek está em modo de operação
  8    a configuração guardada no Vek é inválida
  9    (provision) a última visita de algum Vek falhou
  10   o hardware do Vek não aceita a operação
  11   um arquivo não pôde ser lido ou gravado (ou o registro está em uso por outra estação)
  12   o firmware do Vek precisa ser atualizado antes (vekctl update)
  13   (sync) o servidor do histórico não recebeu todas as visitas; elas ficam no diário
  14   (sync) o servidor recusou visitas; elas ficam em ARQ.refused com o motivo
  130  interrompido (Ctrl-C); a porta é fechada
)";

}  // namespace

std::string commandNameOf(const std::string& command, const std::string& sub) {
    const std::string name = command == "config" ? command + " " + sub : command;
    return entryOf(name) ? name : std::string();
}

std::string wholeHelp() {
    std::string help = "uso: vekctl [opções] COMANDO [argumentos]\n\n" +
                       wrapped(
                           "Identifica o Vek, atualiza o firmware e lê, grava e compara a "
                           "configuração, pela porta serial.",
                           0, 0) +
                       "\nComandos ('vekctl help COMANDO' mostra as opções e um exemplo de cada "
                       "um):\n";
    for (const CommandEntry& c : commands())
        help += "  " + std::string(c.usage) + "\n";
    help += "\nOpções:\n";
    for (const OptionHelp& option : kOptions)
        help += optionLine(option);
    return help + kPortsAndCodes;
}

std::optional<std::string> commandHelp(const std::string& name) {
    const CommandEntry* entry = entryOf(name);
    if (!entry)
        return std::nullopt;
    std::string help =
        "uso: vekctl " + std::string(entry->usage) + "\n\n" + entry->what + "\n\nOpções:\n";
    for (const char* option : entry->options)
        help += optionLine(*optionOf(option));
    for (const char* option : kCommonOptions)
        help += optionLine(*optionOf(option));
    return help + "\nExemplo:\n  " + entry->example + "\n";
}

bool takesOption(const std::string& command, const std::string& option) {
    if (std::find(std::begin(kCommonOptions), std::end(kCommonOptions), option) !=
            std::end(kCommonOptions) ||
        option == "version")
        return true;
    const CommandEntry* entry = entryOf(command);
    return entry &&
           std::find(entry->options.begin(), entry->options.end(), option) != entry->options.end();
}

std::string commandSuggestion(const std::string& typed) {
    std::vector<std::string> names;
    for (const CommandEntry& c : commands())
        names.push_back(c.name);
    names.push_back("config");
    const auto meant = nearestWord(typed, names);
    return meant ? "você quis dizer " + *meant + "?" : std::string();
}

std::string optionSuggestion(const std::string& typed) {
    std::vector<std::string> names;
    for (const OptionHelp& option : kOptions)
        names.push_back(option.name);
    const auto meant = nearestWord(typed, names);
    return meant ? "você quis dizer --" + *meant + "?" : std::string();
}

}  // namespace vek
