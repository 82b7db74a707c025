// The polling benchmark's gosnmp client: one goroutine per agent of a target
// file, GOMAXPROCS equal to the cores, each with its own GoSNMP value doing a
// Get of the OIDs or a BulkWalk of one subtree. Usage:
//
//	gosnmp_poll -f TARGETS [-t TIMEOUT_MS] [-r ATTEMPTS] [-o json] OID...
//	gosnmp_poll -f TARGETS --walk [-Cr N] [-t TIMEOUT_MS] [-r ATTEMPTS] [-o json] OID
//
// It prints the same JSON lines as the other clients (see ../poll_json.h).
package main

import (
	"bufio"
	"fmt"
	"net"
	"os"
	"runtime"
	"strconv"
	"strings"
	"sync"
	"time"

	"github.com/gosnmp/gosnmp"
)

type options struct {
	file        string
	timeout     time.Duration
	attempts    int
	walk        bool
	repetitions uint32
	oids        []string
}

type target struct {
	host, port, community string
}

func usage(msg string) {
	fmt.Fprintf(os.Stderr, "gosnmp_poll: %s\nusage: -f TARGETS [-t MS] [-r ATTEMPTS] [-o json] OID... | -f TARGETS --walk [-Cr N] OID\n", msg)
	os.Exit(2)
}

func number(text string, max int) int {
	n, err := strconv.Atoi(text)
	if err != nil || n <= 0 || n > max {
		usage("invalid number '" + text + "'")
	}
	return n
}

func parseArgs(args []string) options {
	o := options{timeout: time.Second, attempts: 2, repetitions: 10}
	for i := 0; i < len(args); i++ {
		a := args[i]
		value := func() string {
			if i+1 >= len(args) {
				usage("missing value of " + a)
			}
			i++
			return args[i]
		}
		switch {
		case a == "-f":
			o.file = value()
		case a == "-t":
			o.timeout = time.Duration(number(value(), 3600000)) * time.Millisecond
		case a == "-r":
			o.attempts = number(value(), 100)
		case a == "-o":
			if value() != "json" {
				usage("only -o json")
			}
		case a == "--walk":
			o.walk = true
		case a == "-Cr":
			o.repetitions = uint32(number(value(), 1000))
		case strings.HasPrefix(a, "-Cr"):
			o.repetitions = uint32(number(a[3:], 1000))
		case !strings.HasPrefix(a, "-"):
			if !strings.HasPrefix(a, ".") {
				a = "." + a
			}
			o.oids = append(o.oids, a)
		default:
			usage("invalid option '" + a + "'")
		}
	}
	if o.file == "" || len(o.oids) == 0 || (o.walk && len(o.oids) != 1) {
		usage("missing arguments")
	}
	return o
}

// One agent a line: HOST[:PORT] [COMMUNITY]; '#' starts a comment line.
func readTargets(file string) []target {
	data, err := os.ReadFile(file)
	if err != nil {
		usage(err.Error())
	}
	var out []target
	for _, line := range strings.Split(string(data), "\n") {
		f := strings.Fields(line)
		if len(f) == 0 || strings.HasPrefix(f[0], "#") {
			continue
		}
		t := target{host: f[0], port: "161", community: "public"}
		if h, p, err := net.SplitHostPort(f[0]); err == nil {
			t.host, t.port = h, p
		} else {
			t.host = strings.Trim(f[0], "[]")
		}
		if len(f) > 1 {
			t.community = f[1]
		}
		out = append(out, t)
	}
	return out
}

func jsonString(b *strings.Builder, s string) {
	b.WriteByte('"')
	for i := 0; i < len(s); i++ {
		c := s[i]
		switch {
		case c == '"' || c == '\\':
			b.WriteByte('\\')
			b.WriteByte(c)
		case c < 0x20:
			fmt.Fprintf(b, "\\u%04x", c)
		default:
			b.WriteByte(c)
		}
	}
	b.WriteByte('"')
}

func hexOf(p []byte) string {
	var b strings.Builder
	for i, c := range p {
		if i > 0 {
			b.WriteByte(' ')
		}
		fmt.Fprintf(&b, "%02X", c)
	}
	return b.String()
}

// Type name and value text of a binding, as the other clients print them.
func typeValue(v gosnmp.SnmpPDU) (string, string) {
	switch v.Type {
	case gosnmp.Integer:
		return "INTEGER", fmt.Sprint(v.Value)
	case gosnmp.OctetString:
		p, _ := v.Value.([]byte)
		for _, c := range p {
			if c < 0x20 || c > 0x7E {
				return "Hex-STRING", hexOf(p)
			}
		}
		return "STRING", string(p)
	case gosnmp.ObjectIdentifier:
		return "OID", fmt.Sprint(v.Value)
	case gosnmp.IPAddress:
		return "IpAddress", fmt.Sprint(v.Value)
	case gosnmp.Counter32:
		return "Counter32", fmt.Sprint(v.Value)
	case gosnmp.Gauge32, gosnmp.Uinteger32:
		return "Gauge32", fmt.Sprint(v.Value)
	case gosnmp.TimeTicks:
		return "Timeticks", fmt.Sprint(v.Value)
	case gosnmp.Counter64:
		return "Counter64", fmt.Sprint(v.Value)
	case gosnmp.Null:
		return "NULL", ""
	case gosnmp.NoSuchObject:
		return "noSuchObject", ""
	case gosnmp.NoSuchInstance:
		return "noSuchInstance", ""
	case gosnmp.EndOfMibView:
		return "endOfMibView", ""
	}
	return fmt.Sprintf("0x%02X", byte(v.Type)), fmt.Sprint(v.Value)
}

func binding(b *strings.Builder, agent string, v gosnmp.SnmpPDU) {
	t, value := typeValue(v)
	b.WriteString(`{"agent":`)
	jsonString(b, agent)
	b.WriteString(`,"oid":"`)
	b.WriteString(v.Name)
	b.WriteString(`","type":"`)
	b.WriteString(t)
	b.WriteString(`","value":`)
	jsonString(b, value)
	b.WriteString("}\n")
}

func failure(b *strings.Builder, agent string, err error) {
	msg := err.Error()
	if strings.Contains(msg, "timeout") {
		msg = "timeout"
	}
	b.WriteString(`{"agent":`)
	jsonString(b, agent)
	b.WriteString(`,"error":`)
	jsonString(b, msg)
	b.WriteString("}\n")
}

func poll(o *options, t target, out chan<- string) {
	var b strings.Builder
	agent := net.JoinHostPort(t.host, t.port)
	port, _ := strconv.Atoi(t.port)
	g := &gosnmp.GoSNMP{
		Target:         t.host,
		Port:           uint16(port),
		Transport:      "udp",
		Community:      t.community,
		Version:        gosnmp.Version2c,
		Timeout:        o.timeout,
		Retries:        o.attempts - 1,
		MaxOids:        gosnmp.MaxOids,
		MaxRepetitions: o.repetitions,
	}
	if err := g.Connect(); err != nil {
		failure(&b, agent, err)
		out <- b.String()
		return
	}
	defer g.Conn.Close()
	if o.walk {
		err := g.BulkWalk(o.oids[0], func(v gosnmp.SnmpPDU) error {
			binding(&b, agent, v)
			return nil
		})
		if err != nil {
			failure(&b, agent, err)
		}
	} else if res, err := g.Get(o.oids); err != nil {
		failure(&b, agent, err)
	} else if res.Error != gosnmp.NoError {
		failure(&b, agent, fmt.Errorf("%v", res.Error))
	} else {
		for _, v := range res.Variables {
			binding(&b, agent, v)
		}
	}
	out <- b.String()
}

func main() {
	runtime.GOMAXPROCS(runtime.NumCPU())
	o := parseArgs(os.Args[1:])
	targets := readTargets(o.file)

	out := make(chan string, 1024)
	written := make(chan struct{})
	go func() {
		w := bufio.NewWriterSize(os.Stdout, 1<<20)
		for s := range out {
			w.WriteString(s)
		}
		w.Flush()
		close(written)
	}()
	var wg sync.WaitGroup
	for _, t := range targets {
		wg.Add(1)
		go func(t target) {
			defer wg.Done()
			poll(&o, t, out)
		}(t)
	}
	wg.Wait()
	close(out)
	<-written
}
