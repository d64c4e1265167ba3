#!/usr/bin/perl
# Sends one request to a QEMU guest through its QMP socket and prints the outcome.
#   qmp-request.pl SOCKET unplug                 device_del of the MTP device; waits until it is gone
#   qmp-request.pl SOCKET plug ROOTDIR DESC      device_add of the MTP device serving ROOTDIR again
#   qmp-request.pl SOCKET hmp 'COMMAND LINE'     any human-monitor command; prints its output
# Exits non-zero with "error: ..." on stderr when QEMU refuses or does not answer within 10 s.
# Only perl-base modules: it runs on any Debian machine.
use strict;
use warnings;
use IO::Socket::UNIX;
use IO::Select;
use Socket qw(SOCK_STREAM);

my ($path, $action, @args) = @ARGV;
die "usage: qmp-request.pl SOCKET unplug|plug ROOTDIR DESC|hmp COMMAND\n" unless defined $action;

my $device = 'mtp';
my $socket = IO::Socket::UNIX->new(Type => SOCK_STREAM, Peer => $path)
    or die "error: cannot connect to $path: $!\n";
my $select = IO::Select->new($socket);
my $buffer = '';

sub next_message {
    my $deadline = time + 10;
    while (1) {
        if ($buffer =~ s/^([^\n]*)\n//) {
            my $line = $1;
            $line =~ s/\r$//;
            return $line;
        }
        my $left = $deadline - time;
        die "error: no answer from QEMU\n" if $left <= 0 || !$select->can_read($left);
        my $read = sysread($socket, $buffer, 65536, length $buffer);
        die "error: QEMU closed its monitor\n" unless $read;
    }
}

sub quote {
    my ($text) = @_;
    $text =~ s/(["\\])/\\$1/g;
    $text =~ s/([\x00-\x1f])/sprintf('\\u%04x', ord $1)/ge;
    return "\"$text\"";
}

sub unquote {
    my ($text) = @_;
    my %plain = ('n' => "\n", 't' => "\t", 'r' => "\r", 'b' => "\b", 'f' => "\f", '"' => '"', '\\' => '\\', '/' => '/');
    $text =~ s/\\(?:u([0-9a-fA-F]{4})|(.))/defined $1 ? chr(hex $1) : $plain{$2}/ge;
    return $text;
}

# One command; events that arrive meanwhile are returned too, so a caller can look for its own.
sub execute {
    my ($json) = @_;
    print {$socket} "$json\n";
    my @events;
    while (1) {
        my $message = next_message();
        if ($message =~ /^\{\s*"error"/) {
            my ($desc) = $message =~ /"desc":\s*"((?:[^"\\]|\\.)*)"/;
            die 'error: ' . (defined $desc ? unquote($desc) : $message) . "\n";
        }
        return ($message, @events) if $message =~ /^\{\s*"return"/;
        push @events, $message;
    }
}

next_message(); # the greeting
execute('{"execute":"qmp_capabilities"}');

if ($action eq 'unplug') {
    # A USB device leaves at once; the event confirms the guest's bus has lost it.
    my ($reply, @events) = execute('{"execute":"device_del","arguments":{"id":' . quote($device) . '}}');
    my $gone = grep { /"event":\s*"DEVICE_DELETED"/ && /"device":\s*"\Q$device\E"/ } @events;
    until ($gone) {
        my $message = next_message();
        $gone = $message =~ /"event":\s*"DEVICE_DELETED"/ && $message =~ /"device":\s*"\Q$device\E"/;
    }
    print "ok\n";
} elsif ($action eq 'plug') {
    my ($rootdir, $desc) = @args;
    die "error: plug needs ROOTDIR and DESC\n" unless defined $desc;
    execute('{"execute":"device_add","arguments":{"driver":"usb-mtp","id":' . quote($device)
        . ',"bus":"xhci.0","rootdir":' . quote($rootdir) . ',"readonly":false,"desc":' . quote($desc) . '}}');
    print "ok\n";
} elsif ($action eq 'hmp') {
    my ($reply) = execute('{"execute":"human-monitor-command","arguments":{"command-line":' . quote("@args") . '}}');
    my ($output) = $reply =~ /"return":\s*"((?:[^"\\]|\\.)*)"/;
    print unquote(defined $output ? $output : '');
} else {
    die "error: unknown request '$action'\n";
}
