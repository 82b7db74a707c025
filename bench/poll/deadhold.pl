#!/usr/bin/perl
# Holds a bound UDP socket on every address of a file ("HOST:PORT" a line) and
# never reads them: agents that are down without the kernel saying so.
# usage: deadhold.pl ADDRESSES READY_FILE   (READY_FILE is created once all are bound)
use strict;
use warnings;
use IO::Socket::INET;

my ($list, $ready) = @ARGV;
die "usage: deadhold.pl ADDRESSES READY_FILE\n" unless defined $ready;
open(my $in, '<', $list) or die "$list: $!\n";
my @sockets;
while (my $line = <$in>) {
   chomp $line;
   next if $line eq '';
   my ($host, $port) = split /:/, $line;
   my $s = IO::Socket::INET->new(Proto => 'udp', LocalAddr => $host, LocalPort => $port)
      or die "bind $line: $!\n";
   push @sockets, $s;
}
close $in;
open(my $out, '>', $ready) or die "$ready: $!\n";
close $out;
$SIG{TERM} = $SIG{INT} = sub { exit 0 };
sleep 3600 while 1;
