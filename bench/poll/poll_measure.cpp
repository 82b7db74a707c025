// Runs one polling client and judges it: wall time, the client's CPU time
// (user and system) and peak memory from wait4, its open descriptors sampled
// from /proc while it runs, the agents' snmpd CPU time over the run, and its
// JSON lines checked against the agents: every live agent's bindings equal to a
// reference taken from one agent of the same snmpd with Net-SNMP's tools, every
// dead agent reported as a time-out, nothing else.
//
// usage: poll_measure --agents AGENTS.tsv --refs DIR --mode get|walk --reps N
//                     [--snmpd-pids FILE] [--out FILE] [--limit SECONDS] -- CLIENT ARGS...
//   AGENTS.tsv  "HOST:PORT<TAB>GROUP", GROUP an snmpd index or "dead"
//   DIR         get-GROUP.txt / walk-GROUP.txt: snmpget / snmpbulkwalk -On -Ox
//               output of one agent of each snmpd
//   SECONDS     the client is killed past it (300 by default)
// Prints one line of KEY=VALUE fields; the exit status is 0 when every answer
// is correct (the client exiting with 0, or 1 for "some agents failed"), 1
// when some are not, 2 when the run could not be made.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {

// A binding reduced to what two clients must agree on.
struct Binding
{
   std::string oid;    // ".1.3.6..."
   std::string type;   // canonical class: INTEGER, OCTETS, OID, ...
   std::string value;  // canonical text (octets as upper-case hex pairs)
};

bool Volatile(const std::string &type)
{
   // Counters and clocks move between the reference and the run.
   return type == "Counter32" || type == "Counter64" || type == "Timeticks";
}

std::string Lower(std::string s)
{
   for (char &c : s)
      c = (char)tolower((unsigned char)c);
   return s;
}

std::string Trim(const std::string &s)
{
   size_t a = s.find_first_not_of(" \t\r\n");
   if (a == std::string::npos)
      return "";
   size_t b = s.find_last_not_of(" \t\r\n");
   return s.substr(a, b - a + 1);
}

std::string HexOf(const std::string &bytes)
{
   static const char digits[] = "0123456789ABCDEF";
   std::string h;
   for (unsigned char c : bytes)
   {
      h += digits[c >> 4];
      h += digits[c & 15];
   }
   return h;
}

// "6c 6F:00" and the like to "6C6F00"; false when it is not hex.
bool NormalHex(const std::string &text, std::string *out)
{
   std::string h;
   for (char c : text)
   {
      if (isxdigit((unsigned char)c))
         h += (char)toupper((unsigned char)c);
      else if (c != ' ' && c != ':' && c != '\n' && c != '\r')
         return false;
   }
   if (h.size() % 2 != 0)
      return false;
   *out = h;
   return true;
}

std::string FirstNumber(const std::string &s)
{
   size_t a = s.find_first_of("0123456789");
   if (a == std::string::npos)
      return s;
   size_t b = s.find_first_not_of("0123456789", a);
   return s.substr(a, b == std::string::npos ? std::string::npos : b - a);
}

std::string DottedOid(std::string s)
{
   s = Trim(s);
   if (!s.empty() && s[0] != '.')
      s = "." + s;
   return s;
}

// Canonical type and value from a client's type name and value text. Type
// names are matched loosely (Net-SNMP's and the obvious alternatives).
Binding Canonical(const std::string &oid, const std::string &type, const std::string &value)
{
   static const std::map<std::string, std::string> kTypes = {
      {"integer", "INTEGER"},       {"integer32", "INTEGER"},   {"string", "OCTETS"},
      {"octet string", "OCTETS"},   {"octetstring", "OCTETS"},  {"hex-string", "HEX"},
      {"oid", "OID"},               {"object identifier", "OID"}, {"objectidentifier", "OID"},
      {"ipaddress", "IpAddress"},   {"counter32", "Counter32"}, {"counter", "Counter32"},
      {"gauge32", "Gauge32"},       {"gauge", "Gauge32"},       {"unsigned32", "Gauge32"},
      {"uinteger32", "Gauge32"},    {"timeticks", "Timeticks"}, {"counter64", "Counter64"},
      {"null", "NULL"},             {"nosuchobject", "noSuchObject"},
      {"nosuchinstance", "noSuchInstance"},                     {"endofmibview", "endOfMibView"},
   };
   Binding b;
   b.oid = DottedOid(oid);
   auto it = kTypes.find(Lower(Trim(type)));
   b.type = it != kTypes.end() ? it->second : Trim(type);
   if (b.type == "OCTETS")
      b.value = HexOf(value);
   else if (b.type == "HEX")
   {
      b.type = "OCTETS";
      if (!NormalHex(value, &b.value))
         b.value = "bad hex: " + value;
   }
   else if (b.type == "OID")
      b.value = DottedOid(value);
   else if (b.type == "Timeticks")
      b.value = FirstNumber(value);
   else if (b.type == "NULL" || b.type == "noSuchObject" || b.type == "noSuchInstance" ||
            b.type == "endOfMibView")
      b.value.clear();
   else
      b.value = Trim(value);
   return b;
}

// snmpget / snmpbulkwalk -On -Ox output: "OID = TYPE: VALUE", hex values going
// on over lines that do not start with '.', and the exception texts.
bool ReadReference(const std::string &path, std::vector<Binding> *out)
{
   std::ifstream in(path);
   if (!in)
      return false;
   std::vector<std::pair<std::string, std::string>> lines;  // oid, rest
   std::string line;
   while (std::getline(in, line))
   {
      if (!line.empty() && line[0] == '.')
      {
         size_t eq = line.find(" = ");
         if (eq == std::string::npos)
            return false;
         lines.emplace_back(line.substr(0, eq), line.substr(eq + 3));
      }
      else if (!lines.empty())
         lines.back().second += " " + line;
   }
   for (const auto &l : lines)
   {
      std::string rest = Trim(l.second);
      if (rest == "\"\"")
         out->push_back(Canonical(l.first, "STRING", ""));
      else if (rest.compare(0, 12, "No Such Obje") == 0)
         out->push_back(Canonical(l.first, "noSuchObject", ""));
      else if (rest.compare(0, 12, "No Such Inst") == 0)
         out->push_back(Canonical(l.first, "noSuchInstance", ""));
      else if (rest.compare(0, 12, "No more vari") == 0)
         out->push_back(Canonical(l.first, "endOfMibView", ""));
      else if (rest == "NULL")
         out->push_back(Canonical(l.first, "NULL", ""));
      else
      {
         size_t colon = rest.find(": ");
         if (colon == std::string::npos)
            return false;
         std::string type = rest.substr(0, colon), value = rest.substr(colon + 2);
         if (type == "STRING" && value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
         out->push_back(Canonical(l.first, type, value));
      }
   }
   return !out->empty();
}

// A flat JSON object of string (or bare literal) values; false when the line
// is not one.
bool ParseJsonLine(const std::string &s, std::unordered_map<std::string, std::string> *out)
{
   size_t i = 0;
   auto ws = [&] {
      while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r'))
         i++;
   };
   auto str = [&](std::string *v) -> bool {
      if (i >= s.size() || s[i] != '"')
         return false;
      i++;
      v->clear();
      while (i < s.size() && s[i] != '"')
      {
         char c = s[i++];
         if (c != '\\')
         {
            *v += c;
            continue;
         }
         if (i >= s.size())
            return false;
         char e = s[i++];
         switch (e)
         {
            case 'n': *v += '\n'; break;
            case 't': *v += '\t'; break;
            case 'r': *v += '\r'; break;
            case 'b': *v += '\b'; break;
            case 'f': *v += '\f'; break;
            case 'u':
            {
               if (i + 4 > s.size())
                  return false;
               unsigned long cp = strtoul(s.substr(i, 4).c_str(), nullptr, 16);
               i += 4;
               if (cp < 0x80)
                  *v += (char)cp;
               else if (cp < 0x800)
               {
                  *v += (char)(0xC0 | (cp >> 6));
                  *v += (char)(0x80 | (cp & 0x3F));
               }
               else
               {
                  *v += (char)(0xE0 | (cp >> 12));
                  *v += (char)(0x80 | ((cp >> 6) & 0x3F));
                  *v += (char)(0x80 | (cp & 0x3F));
               }
               break;
            }
            default: *v += e; break;
         }
      }
      if (i >= s.size())
         return false;
      i++;
      return true;
   };
   ws();
   if (i >= s.size() || s[i++] != '{')
      return false;
   ws();
   if (i < s.size() && s[i] == '}')
      return true;
   for (;;)
   {
      std::string key, value;
      ws();
      if (!str(&key))
         return false;
      ws();
      if (i >= s.size() || s[i++] != ':')
         return false;
      ws();
      if (i < s.size() && s[i] == '"')
      {
         if (!str(&value))
            return false;
      }
      else
      {
         size_t end = s.find_first_of(",}", i);
         if (end == std::string::npos)
            return false;
         value = Trim(s.substr(i, end - i));
         i = end;
      }
      (*out)[key] = value;
      ws();
      if (i < s.size() && s[i] == ',')
      {
         i++;
         continue;
      }
      if (i < s.size() && s[i] == '}')
      {
         i++;
         ws();
         return i == s.size();
      }
      return false;
   }
}

struct AgentResult
{
   std::string group;
   std::vector<Binding> bindings;
   std::vector<std::string> errors;
};

double Seconds(const struct timeval &tv)
{
   return (double)tv.tv_sec + (double)tv.tv_usec / 1e6;
}

int CountFds(pid_t pid)
{
   char path[64];
   snprintf(path, sizeof(path), "/proc/%d/fd", (int)pid);
   DIR *d = opendir(path);
   if (d == nullptr)
      return -1;
   int n = 0;
   while (struct dirent *e = readdir(d))
      if (e->d_name[0] != '.')
         n++;
   closedir(d);
   return n;
}

// utime + stime of a process, in seconds; 0 when it is gone.
double ProcessCpu(pid_t pid)
{
   char path[64];
   snprintf(path, sizeof(path), "/proc/%d/stat", (int)pid);
   std::ifstream in(path);
   std::string stat;
   if (!std::getline(in, stat))
      return 0;
   size_t paren = stat.rfind(')');
   if (paren == std::string::npos)
      return 0;
   std::istringstream fields(stat.substr(paren + 2));
   std::string f;
   unsigned long long ut = 0, st = 0;
   // Fields after the command: state(3) ... utime(14), stime(15).
   for (int field = 3; field <= 15 && fields >> f; field++)
   {
      if (field == 14)
         ut = strtoull(f.c_str(), nullptr, 10);
      if (field == 15)
         st = strtoull(f.c_str(), nullptr, 10);
   }
   return (double)(ut + st) / (double)sysconf(_SC_CLK_TCK);
}

double SnmpdCpu(const std::vector<pid_t> &pids)
{
   double sum = 0;
   for (pid_t p : pids)
      sum += ProcessCpu(p);
   return sum;
}

// Busy time of the whole machine (every CPU, all but idle and I/O wait), in
// seconds.
double MachineBusy()
{
   std::ifstream in("/proc/stat");
   std::string cpu;
   unsigned long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0,
                      steal = 0;
   if (!(in >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal) || cpu != "cpu")
      return 0;
   return (double)(user + nice + system + irq + softirq + steal) / (double)sysconf(_SC_CLK_TCK);
}

int Usage()
{
   fprintf(stderr,
           "usage: poll_measure --agents AGENTS.tsv --refs DIR --mode get|walk --reps N\n"
           "                    [--snmpd-pids FILE] [--out FILE] [--limit SECONDS] -- CLIENT ARGS...\n");
   return 2;
}

}  // namespace

int main(int argc, char **argv)
{
   std::string agentsFile, refsDir, mode, pidsFile, outFile = "poll-output.jsonl";
   uint32_t reps = 10, limit = 300;
   int i = 1;
   for (; i < argc; i++)
   {
      std::string a = argv[i];
      if (a == "--")
      {
         i++;
         break;
      }
      if (i + 1 >= argc)
         return Usage();
      if (a == "--agents")
         agentsFile = argv[++i];
      else if (a == "--refs")
         refsDir = argv[++i];
      else if (a == "--mode")
         mode = argv[++i];
      else if (a == "--reps")
         reps = (uint32_t)strtoul(argv[++i], nullptr, 10);
      else if (a == "--snmpd-pids")
         pidsFile = argv[++i];
      else if (a == "--out")
         outFile = argv[++i];
      else if (a == "--limit")
         limit = (uint32_t)strtoul(argv[++i], nullptr, 10);
      else
         return Usage();
   }
   if (i >= argc || agentsFile.empty() || refsDir.empty() || (mode != "get" && mode != "walk") ||
       reps == 0)
      return Usage();
   char **clientArgv = argv + i;

   // The agents and the references of their groups.
   std::unordered_map<std::string, AgentResult> agents;
   std::map<std::string, std::vector<Binding>> refs;
   {
      std::ifstream in(agentsFile);
      std::string line;
      while (std::getline(in, line))
      {
         size_t tab = line.find('\t');
         if (tab == std::string::npos)
            continue;
         std::string group = Trim(line.substr(tab + 1));
         agents[line.substr(0, tab)].group = group;
         if (group != "dead" && refs.count(group) == 0)
         {
            std::string path = refsDir + "/" + mode + "-" + group + ".txt";
            if (!ReadReference(path, &refs[group]))
            {
               fprintf(stderr, "poll_measure: no reference in %s\n", path.c_str());
               return 2;
            }
         }
      }
      if (agents.empty())
      {
         fprintf(stderr, "poll_measure: no agents in %s\n", agentsFile.c_str());
         return 2;
      }
   }
   std::vector<pid_t> snmpdPids;
   if (!pidsFile.empty())
   {
      std::ifstream in(pidsFile);
      long p;
      while (in >> p)
         snmpdPids.push_back((pid_t)p);
   }

   // The run.
   int outFd = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
   std::string errFile = outFile + ".stderr";
   int errFd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
   if (outFd < 0 || errFd < 0)
   {
      perror("poll_measure: output file");
      return 2;
   }
   double snmpdBefore = SnmpdCpu(snmpdPids), busyBefore = MachineBusy();
   auto start = std::chrono::steady_clock::now();
   pid_t pid = fork();
   if (pid < 0)
   {
      perror("poll_measure: fork");
      return 2;
   }
   if (pid == 0)
   {
      dup2(outFd, 1);
      dup2(errFd, 2);
      close(outFd);
      close(errFd);
      execvp(clientArgv[0], clientArgv);
      fprintf(stderr, "exec %s: %s\n", clientArgv[0], strerror(errno));
      _exit(127);
   }
   close(outFd);
   close(errFd);

   // Descriptors, sampled while it runs; the pause between samples grows with
   // the cost of a sample, so that counting 10,000 entries stays a small load.
   // A client that runs past the limit is killed (and judged wrong).
   std::atomic<bool> done(false), killed(false);
   std::atomic<int> peakFds(0);
   std::thread sampler([&] {
      while (!done.load())
      {
         if (!killed.load() && std::chrono::steady_clock::now() - start > std::chrono::seconds(limit))
         {
            killed.store(true);
            kill(pid, SIGKILL);
         }
         auto t0 = std::chrono::steady_clock::now();
         int n = CountFds(pid);
         if (n > peakFds.load())
            peakFds.store(n);
         auto cost = std::chrono::steady_clock::now() - t0;
         auto pause = std::max<std::chrono::steady_clock::duration>(std::chrono::milliseconds(10),
                                                                    cost * 10);
         for (auto waited = std::chrono::steady_clock::duration::zero(); waited < pause && !done.load();
              waited += std::chrono::milliseconds(2))
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
   });
   int status = 0;
   struct rusage ru;
   memset(&ru, 0, sizeof(ru));
   while (wait4(pid, &status, 0, &ru) < 0 && errno == EINTR)
      ;
   double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
   done.store(true);
   sampler.join();
   double snmpdCpu = SnmpdCpu(snmpdPids) - snmpdBefore;
   // What the rest of the machine ran meanwhile (this runner's sampling included).
   double others = MachineBusy() - busyBefore - snmpdCpu - Seconds(ru.ru_utime) - Seconds(ru.ru_stime);
   if (others < 0)
      others = 0;
   int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);

   // The answers.
   size_t stray = 0, lines = 0;
   {
      std::ifstream in(outFile);
      std::string line;
      std::unordered_map<std::string, std::string> fields;
      while (std::getline(in, line))
      {
         lines++;
         fields.clear();
         auto it = ParseJsonLine(line, &fields) ? agents.find(fields["agent"]) : agents.end();
         if (it == agents.end())
         {
            if (stray++ < 3)
               fprintf(stderr, "poll_measure: stray line: %s\n", line.c_str());
            continue;
         }
         if (fields.count("error"))
            it->second.errors.push_back(fields["error"]);
         else if (fields.count("oid") && fields.count("type"))
            it->second.bindings.push_back(Canonical(fields["oid"], fields["type"], fields["value"]));
         else if (stray++ < 3)
            fprintf(stderr, "poll_measure: stray line: %s\n", line.c_str());
      }
   }
   size_t live = 0, dead = 0, liveOk = 0, deadOk = 0, answered = 0, timeouts = 0, requests = 0;
   size_t reported = 0;
   for (const auto &entry : agents)
   {
      const AgentResult &r = entry.second;
      bool timedOut = r.errors.size() == 1 && Lower(r.errors[0]).find("timeout") != std::string::npos;
      timeouts += timedOut;
      if (r.group == "dead")
      {
         dead++;
         bool ok = timedOut && r.bindings.empty();
         deadOk += ok;
         if (!ok && reported++ < 5)
            fprintf(stderr, "poll_measure: dead agent %s: %zu bindings, error '%s'\n",
                    entry.first.c_str(), r.bindings.size(), r.errors.empty() ? "" : r.errors[0].c_str());
         continue;
      }
      live++;
      answered += r.errors.empty() && !r.bindings.empty();
      const std::vector<Binding> &ref = refs[r.group];
      std::string why;
      if (!r.errors.empty())
         why = "error '" + r.errors[0] + "'";
      else if (r.bindings.size() != ref.size())
         why = std::to_string(r.bindings.size()) + " bindings, expected " + std::to_string(ref.size());
      else
         for (size_t k = 0; k < ref.size() && why.empty(); k++)
         {
            const Binding &got = r.bindings[k], &want = ref[k];
            if (got.oid != want.oid || got.type != want.type ||
                (!Volatile(want.type) && got.value != want.value))
               why = "binding " + std::to_string(k) + ": " + got.oid + " " + got.type + " '" + got.value +
                     "', expected " + want.oid + " " + want.type + " '" + want.value + "'";
         }
      if (why.empty())
      {
         liveOk++;
         // A walk of B bindings with R repetitions takes ceil((B + 1) / R)
         // GETBULKs: the last one's first binding leaves the table.
         requests += mode == "get" ? 1 : (ref.size() + reps) / reps;
      }
      else if (reported++ < 5)
         fprintf(stderr, "poll_measure: agent %s: %s\n", entry.first.c_str(), why.c_str());
   }
   if (killed.load())
      fprintf(stderr, "poll_measure: client killed after %u s\n", limit);
   else if (exitCode != 0 && exitCode != 1)
      fprintf(stderr, "poll_measure: client exited with %d (its stderr: %s)\n", exitCode, errFile.c_str());

   printf("mode=%s agents=%zu live=%zu dead=%zu wall=%.3f user=%.3f sys=%.3f snmpd_cpu=%.3f others_cpu=%.3f "
          "fds=%d rss_kib=%ld lines=%zu answered=%zu live_ok=%zu dead_ok=%zu timeouts=%zu "
          "stray=%zu requests=%zu exit=%d\n",
          mode.c_str(), agents.size(), live, dead, wall, Seconds(ru.ru_utime), Seconds(ru.ru_stime),
          snmpdCpu, others, peakFds.load(), ru.ru_maxrss, lines, answered, liveOk, deadOk, timeouts, stray,
          requests, exitCode);
   // A client may say by its exit status 1 that some agents failed.
   bool ok = !killed.load() && (exitCode == 0 || exitCode == 1) && liveOk == live && deadOk == dead && stray == 0;
   return ok ? 0 : 1;
}
