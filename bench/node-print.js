globalThis.print = function () { console.log(Array.prototype.join.call(arguments, " ")); };
