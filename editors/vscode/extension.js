// Starts `qol --lsp` for QOL documents (the path from the setting qol.server.path).
const vscode = require('vscode');
const { LanguageClient, TransportKind } = require('vscode-languageclient/node');

let client;

function activate(context) {
  const command = vscode.workspace.getConfiguration('qol').get('server.path') || 'qol';
  const server = { command, args: ['--lsp'], transport: TransportKind.stdio };
  client = new LanguageClient('qol', 'QOL', { run: server, debug: server }, {
    documentSelector: [{ language: 'qol' }],
  });
  context.subscriptions.push(client);
  return client.start();
}

function deactivate() {
  return client ? client.stop() : undefined;
}

module.exports = { activate, deactivate };
