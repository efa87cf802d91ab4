#!/usr/bin/perl
# Perl's RPC::XML (Debian librpc-xml-perl) drives the headless generator on a
# simulated Kona board through every method, and the board's output is
# checked after a SetGen. RPC::XML writes <i8> for large numbers, <int>,
# typed strings, and <nil/> when asked to.
#
# Usage: perl_client_test.pl <orvane executable>
use strict;
use warnings;
use File::Temp qw(tempdir);
use IO::Socket::INET;
use JSON::PP;
use POSIX ();
use Time::HiRes qw(sleep time);
use Test::More;
use RPC::XML;
use RPC::XML::Client;

my $orvane = shift @ARGV or die "usage: $0 <orvane>\n";
my $dir = tempdir("orvane-perl-XXXXXX", TMPDIR => 1, CLEANUP => 1);

# A port nobody uses now, TCP and UDP, chosen by the system.
sub free_port {
    for (1 .. 20) {
        my $t = IO::Socket::INET->new(LocalAddr => '127.0.0.1', LocalPort => 0, Proto => 'tcp', Listen => 1)
            or next;
        my $port = $t->sockport;
        my $u = IO::Socket::INET->new(LocalPort => $port, Proto => 'udp');
        close $t;
        next unless $u;
        close $u;
        return $port if $port != 3530;
    }
    die "no free port\n";
}

my $port = free_port();
my $disc = free_port();
my $pid = fork() // die "fork: $!";
if ($pid == 0) {
    open STDIN, '<', '/dev/null';
    open STDOUT, '>', "$dir/gen.out";
    open STDERR, '>', "$dir/gen.err";
    $ENV{ORVANE_SIM_CAPTURE} = $dir;
    $ENV{HOME} = $dir;
    delete @ENV{qw(USERPROFILE ORVANE_SIM_KONA ORVANE_SIM_DECKLINK)};
    { exec $orvane, '--simulate', 'kona', '--headless', '--port', $port, '--discovery-port', $disc; }
    POSIX::_exit(127);
}
END { kill 'KILL', $pid if $pid && kill 0, $pid; }

sub slurp {
    my ($path) = @_;
    open my $f, '<:raw', $path or return '';
    local $/;
    return scalar <$f>;
}

# The board's last frame: description and bytes, or undef while absent.
sub captured {
    my $json = slurp("$dir/kona-out.json");
    return undef unless length $json;
    my $desc = eval { decode_json($json) } or return undef;
    my $raw = slurp("$dir/kona-out.raw");
    return undef unless length($raw) >= $desc->{rowBytes} * $desc->{height};
    return ($desc, $raw);
}

# Cr, Y, Cb of the first v210 word at a byte offset.
sub v210_word {
    my ($raw, $at) = @_;
    my $w = unpack('V', substr($raw, $at, 4));
    return (($w >> 20) & 0x3FF, ($w >> 10) & 0x3FF, $w & 0x3FF);
}

# Waits until the board shows a frame past `after` whose first word is `want`.
sub wait_frame {
    my ($after, @want) = @_;
    my $end = time + 15;
    my ($desc, $raw);
    while (time < $end) {
        ($desc, $raw) = captured();
        if ($desc && $desc->{sequence} > $after) {
            my @got = v210_word($raw, 0);
            return ($desc, $raw) if "@got" eq "@want";
        }
        sleep 0.05;
    }
    return ($desc, $raw);
}

# Serving once the first frame is out and the port answers.
my ($first) = wait_frame(0, 512, 721, 512);
my $client = RPC::XML::Client->new("http://127.0.0.1:$port/RPC2");
my $names;
for (1 .. 200) {
    $names = $client->simple_request('system.listMethods');
    last if $names;
    sleep 0.05;
}
ok($first, 'the first frame reached the board') or diag(slurp("$dir/gen.err"));

sub call { return $client->simple_request(@_) }

sub fault_of {
    my $r = $client->send_request(@_);
    return ref($r) && $r->isa('RPC::XML::fault') ? $r->string : "no fault: " . (ref($r) ? $r->as_string : $r);
}

is_deeply($names, [qw(GetGenOptions GetOrvVersion MMCAlias PatternOption ReadEdid RescanFormats SetAlias SetGen
                      system.listMethods system.methodHelp system.multicall)], 'system.listMethods');
is(call('system.methodHelp', 'SetGen'),
   'Generate a Named pattern or set generator parameters.  Pattern can be by string, or by structure '
   . '{Pattern:"name", ...}', 'system.methodHelp');
is(fault_of('foo'), 'foo: unknown method name', 'unknown method');

# SetGen with an <i8> option: the struct reads, and the board shows it.
my ($before) = captured();
my $id = call('SetGen', { Pattern => 'Colorbars', Style => 'fullfield', Brightness => RPC::XML::i8->new(100) });
like($id, qr/^-?\d+$/, 'SetGen with <i8> answers a transaction id');
isnt($id, -1, 'and not -1');
my ($desc, $raw) = wait_frame($before->{sequence}, 512, 940, 512);
is($desc->{layout}, 'v210', 'v210 on the board');
is_deeply([ v210_word($raw, 0) ], [ 512, 940, 512 ], 'full-field bars at 100%: white first');
my @last = v210_word($raw, ($desc->{height} - 1) * $desc->{rowBytes});
is($last[1], 940, 'full field: the bottom row too');

is(call('SetGen', 'Colorbars'), $id + 1, 'SetGen by name: the next transaction');
is(call('SetGen', { Pattern => 'Colorbars', Style => '' }), $id + 2, 'an empty string member');
is(call('SetGen'), 'bad parameters', 'SetGen without parameters');
is(call('SetGen', RPC::XML::int->new(7)), -1, 'SetGen with an int');
is(fault_of('SetGen', { Log => RPC::XML::int->new(5) }), 'type error', 'Log must be a string');
is(call('SetGen', { Log => 'Reset' }), 'Not Redirected', 'Log Reset before any redirection');

{
    # <nil/>: a nil member is no member; a call of nothing but nil has no parameters.
    local $RPC::XML::ALLOW_NIL = 1;
    ($before) = captured();
    my $nid = call('SetGen', { Pattern => 'Colorbars', Style => 'fullfield', Brightness => 75, Extra => undef });
    is($nid, $id + 3, 'SetGen with a nil member');
    ($desc, $raw) = wait_frame($before->{sequence}, 512, 721, 512);
    is_deeply([ v210_word($raw, 0) ], [ 512, 721, 512 ], 'drawn without the nil member');
    is(call('SetGen', undef), 'bad parameters', 'a nil parameter is no parameter');
    is(ref call('PatternOption', undef), 'HASH', 'PatternOption(nil) lists the catalogue');
}

my $list = call('PatternOption');
like($list->{Colorbars}, qr/^\$Revision: [\d.]+ \$$/, 'PatternOption lists the patterns');
my $opts = call('PatternOption', 'Colorbars');
is_deeply([ map { $_->{Name} } @$opts ], [qw(Style Brightness)], 'PatternOption of Colorbars');
is_deeply(call('PatternOption', { Pattern => 'Colorbars' }), $opts, 'by struct alike');
is(call('PatternOption', 'NoSuch'), 'error', 'unknown pattern');

my $gen = call('GetGenOptions');
is(ref $gen, 'ARRAY', 'GetGenOptions');
ok((grep { exists $_->{VideoFormat} && exists $_->{GateRed} } @$gen) == 1, 'current generator settings');
is($gen->[-1]{Pattern}, 'Colorbars', 'the current pattern');

is(call('SetAlias', { AliasName => 'perl/a', Pattern => 'Colorbars', Style => 'fullfield', Note => '' }), 'perl/a',
   'SetAlias with an empty option');
is(call('PatternOption')->{'perl/a'}, 'Alias/Colorbars', 'the alias is listed');
is(call('SetAlias', { Pattern => 'Colorbars' }), 'no name for alias', 'SetAlias without a name');
is(call('MMCAlias', { Prefix => 'perl', Path => 'flush' }), 'flushed perl/ aliases', 'MMCAlias flush by prefix');
ok(!exists call('PatternOption')->{'perl/a'}, 'the alias is gone');
is(call('MMCAlias', 'flush'), 'flushed mmc aliases', 'MMCAlias flush');
is(call('MMCAlias', { Prefix => '', Path => 'flush' }), 'invalid arguments', 'MMCAlias without a prefix');
is(call('MMCAlias', $dir), '', 'MMCAlias scans a folder');

my $version = call('GetOrvVersion');
is(scalar @$version, 1, 'GetOrvVersion: one struct');
is_deeply([ sort keys %{ $version->[0] } ], [qw(Application Gateware OS Software)], 'of four texts');
is($version->[0]{Software}, '317', 'the build number');
is($version->[0]{OS}, 'Windows [Unknown]', 'the system text');
ok(length $version->[0]{Gateware}, 'a gateware version');
is(unpack('H*', call('ReadEdid')), '04030201', 'ReadEdid: the four bytes the raster reads, as base64');
is(call('RescanFormats'), 'Ok', 'RescanFormats');

my $results = call('system.multicall', [ { methodName => 'SetGen', params => ['Colorbars'] },
                                         { methodName => 'RescanFormats', params => [] },
                                         { methodName => 'GetOrvVersion', params => [] } ]);
is(scalar @$results, 3, 'system.multicall runs every call');
is($results->[0][0], $id + 4, 'the next transaction');
is($results->[1][0], 'Ok', 'RescanFormats in a multicall');
is($results->[2][0][0]{Software}, '317', 'GetOrvVersion in a multicall');

# Shut down in order on SIGTERM.
kill 'TERM', $pid;
my $end = time + 10;
my $status;
while (time < $end) {
    my $w = waitpid($pid, POSIX::WNOHANG());
    if ($w == $pid) { $status = $?; last }
    sleep 0.05;
}
is($status, 0, 'the generator ends cleanly') or diag(slurp("$dir/gen.err"));
$pid = 0 if defined $status;
done_testing();
